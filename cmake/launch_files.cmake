# The registry files that tie the launch files (.kvnlp, .kvbnlp) to the launcher installed on the
# desktops: build/register-launch-files.reg for one user (HKEY_CURRENT_USER\Software\Classes, no
# administrator needed) and build/register-launch-files-machine.reg for every user of a machine
# (HKEY_LOCAL_MACHINE\Software\Classes). Opening a launch file then runs "<exe>" "<file>".
#
# LAUNCHER_INSTALL_PATH is where the exe lies on the desktops. It may name environment variables;
# the shell expands them when it opens a file, because such a command is written as an expandable
# string (hex(2) in the file: a plain string is taken literally). The per-user default is the local
# application data folder's Programs folder, spelt through %USERPROFILE%: Wine's shell reads the
# "%L" of %LOCALAPPDATA% as its own placeholder for the file's long name and never expands that
# variable, so launch files would not open on the test bench. Printable ASCII only, which keeps the
# conversion to the files' UTF-16 trivial.

set(LAUNCHER_INSTALL_PATH "%USERPROFILE%\\AppData\\Local\\Programs\\tarvolin\\DesktopLauncher.exe" CACHE STRING
    "Path of DesktopLauncher.exe on the desktops, for the launch-file registration (may name %VARIABLES%)")

if(NOT LAUNCHER_INSTALL_PATH MATCHES "^[ -~]+$" OR LAUNCHER_INSTALL_PATH MATCHES "\"")
  message(FATAL_ERROR "LAUNCHER_INSTALL_PATH must be printable ASCII without quotes: ${LAUNCHER_INSTALL_PATH}")
endif()

# Writes the ASCII text as UTF-16LE with a byte-order mark, as regedit exports version 5 files. The
# encoding decides how importers read hex(2): Windows takes it as UTF-16 in every version 5 file,
# but Wine only in a UTF-16 file (in an 8-bit file it converts the bytes as 8-bit text), so only
# a UTF-16 file reads the same everywhere. CMake cannot write zero bytes, so the text goes through
# an Intel HEX file that the toolchain's objcopy turns into the bytes; written only when it changed,
# so that a configure run does not make the file look new.
function(launcher_write_utf16 output text)
  string(HEX "${text}" hex)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\100" hex "${hex}")
  set(hex "fffe${hex}")
  string(LENGTH "${hex}" digits)
  if(digits GREATER 131070)
    message(FATAL_ERROR "${output}: too long for one Intel HEX segment")
  endif()
  set(records "")
  foreach(start RANGE 0 ${digits} 64)
    if(start EQUAL digits)
      break()
    endif()
    string(SUBSTRING "${hex}" ${start} 64 data)
    string(LENGTH "${data}" data_digits)
    math(EXPR count "${data_digits} / 2")
    math(EXPR address "${start} / 2")
    math(EXPR sum "${count} + (${address} >> 8) + (${address} & 255)")
    string(REGEX MATCHALL ".." bytes "${data}")
    foreach(byte IN LISTS bytes)
      math(EXPR sum "${sum} + 0x${byte}")
    endforeach()
    math(EXPR check "(256 - (${sum} & 255)) & 255" OUTPUT_FORMAT HEXADECIMAL)
    math(EXPR count "${count}" OUTPUT_FORMAT HEXADECIMAL)
    math(EXPR address "${address} + 65536" OUTPUT_FORMAT HEXADECIMAL)
    # 0x.. from math: keep the last two (four for the address) digits.
    string(REGEX REPLACE "^0x0*(.*)$" "00\\1" count "${count}")
    string(REGEX REPLACE "^.*(..)$" "\\1" count "${count}")
    string(REGEX REPLACE "^.*(....)$" "\\1" address "${address}")
    string(REGEX REPLACE "^0x0*(.*)$" "00\\1" check "${check}")
    string(REGEX REPLACE "^.*(..)$" "\\1" check "${check}")
    string(APPEND records ":${count}${address}00${data}${check}\n")
  endforeach()
  string(APPEND records ":00000001FF\n")
  get_filename_component(name ${output} NAME)
  set(ihex ${CMAKE_BINARY_DIR}/generated/${name}.ihex)
  set(old "")
  if(EXISTS ${ihex})
    file(READ ${ihex} old)
  endif()
  if(NOT old STREQUAL records OR NOT EXISTS ${output})
    file(WRITE ${ihex} "${records}")
    execute_process(COMMAND ${CMAKE_OBJCOPY} -I ihex -O binary ${ihex} ${output}
                    RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${CMAKE_OBJCOPY} could not write ${output}: ${err}")
    endif()
  endif()
endfunction()

# out_line: the value line for the key's default value holding text; an expandable string when text
# names an environment variable, so that the shell expands it.
function(launcher_reg_value text out_line)
  if(text MATCHES "%[A-Za-z_][A-Za-z0-9_()]*%")
    # UTF-16LE with its terminator, in rows of 24 bytes as regedit exports them.
    string(HEX "${text}" hex)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\1;00;" units "${hex}")
    string(REGEX REPLACE ";$" "" units "${units}")
    set(line "@=hex(2):")
    set(count 0)
    foreach(byte IN LISTS units ITEMS 00 00)
      if(count GREATER 0)
        string(APPEND line ",")
        math(EXPR row "${count} % 24")
        if(row EQUAL 0)
          string(APPEND line "\\\n  ")
        endif()
      endif()
      string(APPEND line "${byte}")
      math(EXPR count "${count} + 1")
    endforeach()
  else()
    string(REPLACE "\\" "\\\\" escaped "${text}")
    string(REPLACE "\"" "\\\"" escaped "${escaped}")
    set(line "@=\"${escaped}\"")
  endif()
  set(${out_line} "${line}" PARENT_SCOPE)
endfunction()

launcher_reg_value("\"${LAUNCHER_INSTALL_PATH}\" \"%1\"" LAUNCHER_OPEN_COMMAND)
launcher_reg_value("\"${LAUNCHER_INSTALL_PATH}\",0" LAUNCHER_FILE_ICON)

# The registration below root (a key of the registry, for example HKEY_CURRENT_USER\Software\Classes)
# written to output, with Windows line ends.
function(launcher_launch_file_registration root output)
  set(content "Windows Registry Editor Version 5.00\n")
  foreach(kind kvnlp kvbnlp)
    set(prog_id "tarvolin.DesktopLauncher.${kind}")
    if(kind STREQUAL "kvnlp")
      set(name "tarvolin launch file")
    else()
      set(name "tarvolin launch file (berk)")
    endif()
    string(APPEND content "
[${root}\\.${kind}]
@=\"${prog_id}\"

[${root}\\${prog_id}]
@=\"${name}\"

[${root}\\${prog_id}\\DefaultIcon]
${LAUNCHER_FILE_ICON}

[${root}\\${prog_id}\\shell]
@=\"open\"

[${root}\\${prog_id}\\shell\\open\\command]
${LAUNCHER_OPEN_COMMAND}
")
  endforeach()
  string(REPLACE "\n" "\r\n" content "${content}\n")
  launcher_write_utf16(${output} "${content}")
endfunction()

launcher_launch_file_registration("HKEY_CURRENT_USER\\Software\\Classes" ${CMAKE_BINARY_DIR}/register-launch-files.reg)
launcher_launch_file_registration("HKEY_LOCAL_MACHINE\\Software\\Classes"
                                  ${CMAKE_BINARY_DIR}/register-launch-files-machine.reg)
