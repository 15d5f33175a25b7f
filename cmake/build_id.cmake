# The build identity: which source a program was built from and which release keys it trusts, so
# that two builds (one key or two, this revision or the last) can be told apart on a desktop. It
# becomes the product version text of the program's version record, which software distribution
# can read in a detection rule, and one line of the log at every start.
#
# LAUNCHER_BUILD_ID names the source; empty (the default) takes `git describe --always --dirty` of
# the checkout when CMake configures (a commit or checkout makes the build configure again), or
# "unknown" outside git.

set(LAUNCHER_BUILD_ID "" CACHE STRING "Build identity in the product version text; empty: the source revision (git describe --always --dirty), or unknown outside git")
# The version record's numeric version (res/DesktopLauncher.rc takes it from the generated header),
# at the start of the product version text.
set(LAUNCHER_VERSION_NUMBER "1.2.2.0")

if(LAUNCHER_BUILD_ID STREQUAL "")
  find_program(GIT_COMMAND git)
  set(LAUNCHER_BUILD_IDENTITY "unknown")
  if(GIT_COMMAND)
    execute_process(COMMAND ${GIT_COMMAND} describe --always --dirty WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                    RESULT_VARIABLE git_result OUTPUT_VARIABLE git_output ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(git_result EQUAL 0 AND NOT git_output STREQUAL "")
      set(LAUNCHER_BUILD_IDENTITY "${git_output}")
      # Every commit, checkout or reset writes HEAD or its log: configure again then, so that the
      # identity follows the source without anyone remembering to.
      execute_process(COMMAND ${GIT_COMMAND} rev-parse --path-format=absolute --git-path HEAD --git-path logs/HEAD
                      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE git_paths ERROR_QUIET
                      OUTPUT_STRIP_TRAILING_WHITESPACE)
      string(REPLACE "\n" ";" git_paths "${git_paths}")
      foreach(path IN LISTS git_paths)
        if(EXISTS ${path})
          set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
        endif()
      endforeach()
    endif()
  endif()
else()
  set(LAUNCHER_BUILD_IDENTITY "${LAUNCHER_BUILD_ID}")
endif()
# It goes into a C string, a resource script and a detection rule: one word of plain characters.
if(NOT LAUNCHER_BUILD_IDENTITY MATCHES "^[A-Za-z0-9._+-]+$" OR LAUNCHER_BUILD_IDENTITY MATCHES "^.{65}")
  message(FATAL_ERROR "LAUNCHER_BUILD_ID must be 1 to 64 letters, digits and . _ + - : ${LAUNCHER_BUILD_IDENTITY}")
endif()

# Writes <binary dir>/generated/<target>/product_version.h, the product version text of a program
# that trusts the keys with these fingerprints (a list; empty: none), and adds its folder to the
# include path of whatever links target. quiet: do not print the text (test keys).
function(launcher_product_version target fingerprints quiet)
  if(fingerprints STREQUAL "")
    set(keys "none")
  else()
    string(REPLACE ";" "," keys "${fingerprints}")
  endif()
  set(text "${LAUNCHER_VERSION_NUMBER} build ${LAUNCHER_BUILD_IDENTITY} keys ${keys}")
  string(REPLACE "." "," numbers "${LAUNCHER_VERSION_NUMBER}")
  set(folder ${CMAKE_BINARY_DIR}/generated/${target})
  file(CONFIGURE OUTPUT ${folder}/product_version.h CONTENT
"// Generated: the product version text of the version record and the start-up log.
#pragma once
#define LAUNCHER_FILEVERSION ${numbers}
#define LAUNCHER_VERSION_STRING \"${LAUNCHER_VERSION_NUMBER}\"
#define LAUNCHER_PRODUCT_VERSION \"${text}\"
#define LAUNCHER_PRODUCT_VERSION_WIDE L\"${text}\"
" NEWLINE_STYLE UNIX)
  target_include_directories(${target} INTERFACE ${folder})
  if(NOT quiet)
    message(STATUS "Product version: ${text}")
  endif()
endfunction()
