# cmake -DPROPERTIES_FILE=... -DJAR_FILE=... -DOUTPUT=... -P embed_payloads.cmake
# Writes the two payload records (8-byte tag, big-endian 32-bit length, data) each at the start of
# its fixed block; the rest of a block stays zero.

set(PROPERTIES_BLOCK 2560)
set(JAR_BLOCK 358400)

function(record_initialiser file tag block out_var)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "Payload file not found: ${file}")
  endif()
  file(SIZE "${file}" size)
  math(EXPR room "${block} - 12")
  if(size GREATER room)
    message(FATAL_ERROR "Payload ${file} has ${size} bytes, but its block holds at most ${room} data bytes")
  endif()
  file(READ "${file}" hex HEX)
  math(EXPR b0 "(${size} >> 24) & 255" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR b1 "(${size} >> 16) & 255" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR b2 "(${size} >> 8) & 255" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR b3 "${size} & 255" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # Break the initialiser into lines so the compiler does not meet one huge line.
  string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
  set(${out_var} "${tag} ${b0},${b1},${b2},${b3},\n${bytes}" PARENT_SCOPE)
endfunction()

record_initialiser("${PROPERTIES_FILE}" "0x01,0x13,0x01,0x14,0x18,0x07,0x07,0x07," ${PROPERTIES_BLOCK} properties)
record_initialiser("${JAR_FILE}" "0x01,0x13,0x01,0x14,0x19,0x07,0x07,0x07," ${JAR_BLOCK} jar)

file(WRITE "${OUTPUT}.tmp" "// Generated at build time from the embedded payload files; do not edit.
#include \"provision/payload.h\"

const unsigned char propertyFilePayload[${PROPERTIES_BLOCK}] = {
${properties}
};

const unsigned char launcherJarPayload[${JAR_BLOCK}] = {
${jar}
};
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
