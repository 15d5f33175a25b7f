# The release key: LAUNCHER_RELEASE_PUBLIC_KEY names the PEM public key (P-256) whose signature a
# version file must carry. It is turned into a source file with its raw X||Y at configure time
# (openssl reads the PEM), so the program needs no parser of its own. Empty: no key, no signature
# required. The key is a library of its own (one object), so that the test build can link the same
# program with a test key beside the product's.

set(LAUNCHER_RELEASE_PUBLIC_KEY "" CACHE FILEPATH "PEM public key (P-256) whose signature a runtime pack's version file must carry; empty for none")

# Writes output, a source that defines the release key of pem (a PEM public key, or "" for none).
function(launcher_release_key_source pem output)
  set(key_bytes "0")
  set(key_built_in "false")
  if(NOT pem STREQUAL "")
    if(NOT EXISTS ${pem})
      message(FATAL_ERROR "Release key: ${pem} does not exist")
    endif()
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${pem})
    find_program(OPENSSL_COMMAND openssl REQUIRED)
    set(der_file ${output}.der)
    execute_process(COMMAND ${OPENSSL_COMMAND} pkey -pubin -in ${pem} -outform DER -out ${der_file}
                    RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "Release key: openssl cannot read ${pem} as a public key: ${err}")
    endif()
    file(READ ${der_file} der HEX)
    # A P-256 key in its standard encoding: fixed 26-byte header (id-ecPublicKey, prime256v1, bit
    # string) and the uncompressed point 04||X||Y.
    set(p256_prefix "3059301306072a8648ce3d020106082a8648ce3d03010703420004")
    string(LENGTH "${der}" der_length)
    string(SUBSTRING "${der}" 0 54 prefix)
    if(NOT der_length EQUAL 182 OR NOT prefix STREQUAL p256_prefix)
      message(FATAL_ERROR "Release key: ${pem} is not an uncompressed P-256 (prime256v1) public key")
    endif()
    string(SUBSTRING "${der}" 54 128 point)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " key_bytes "${point}")
    set(key_built_in "true")
  endif()
  file(CONFIGURE OUTPUT ${output} CONTENT
"// Generated from the release key ${pem}; raw X||Y of the P-256 key, if any.
#include \"provision/release_key.h\"

extern const bool kReleaseKeyBuiltIn = ${key_built_in};
extern const unsigned char kReleasePublicKey[kReleasePublicKeySize] = {${key_bytes}};
" NEWLINE_STYLE UNIX)
endfunction()

# A static library named target holding the release key of pem.
function(launcher_release_key_library target pem)
  set(source ${CMAKE_BINARY_DIR}/generated/${target}.cpp)
  launcher_release_key_source("${pem}" ${source})
  add_library(${target} STATIC ${source})
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  target_compile_options(${target} PRIVATE ${LAUNCHER_WARNINGS})
endfunction()

if(NOT LAUNCHER_RELEASE_PUBLIC_KEY STREQUAL "")
  message(STATUS "Release key: ${LAUNCHER_RELEASE_PUBLIC_KEY}")
endif()
