# The release key: LAUNCHER_RELEASE_PUBLIC_KEY names the PEM public key (P-256) whose signature a
# version file must carry. It is turned into a header with its raw X||Y at configure time (openssl
# reads the PEM), so the program needs no parser of its own. Empty: no key, no signature required.

set(LAUNCHER_RELEASE_PUBLIC_KEY "" CACHE FILEPATH "PEM public key (P-256) whose signature a runtime pack's version file must carry; empty for none")

set(LAUNCHER_RELEASE_KEY_HEADER ${CMAKE_BINARY_DIR}/generated/provision/release_key.h)
set(release_key_bytes "0")
set(release_key_built_in "false")

if(NOT LAUNCHER_RELEASE_PUBLIC_KEY STREQUAL "")
  if(NOT EXISTS ${LAUNCHER_RELEASE_PUBLIC_KEY})
    message(FATAL_ERROR "LAUNCHER_RELEASE_PUBLIC_KEY: ${LAUNCHER_RELEASE_PUBLIC_KEY} does not exist")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${LAUNCHER_RELEASE_PUBLIC_KEY})
  find_program(OPENSSL_COMMAND openssl REQUIRED)
  set(release_key_der ${CMAKE_BINARY_DIR}/generated/release_public_key.der)
  execute_process(COMMAND ${OPENSSL_COMMAND} pkey -pubin -in ${LAUNCHER_RELEASE_PUBLIC_KEY} -outform DER -out ${release_key_der}
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "LAUNCHER_RELEASE_PUBLIC_KEY: openssl cannot read ${LAUNCHER_RELEASE_PUBLIC_KEY} as a public key: ${err}")
  endif()
  file(READ ${release_key_der} der HEX)
  # A P-256 key in its standard encoding: fixed 26-byte header (id-ecPublicKey, prime256v1, bit
  # string) and the uncompressed point 04||X||Y.
  set(p256_prefix "3059301306072a8648ce3d020106082a8648ce3d03010703420004")
  string(LENGTH "${der}" der_length)
  string(SUBSTRING "${der}" 0 54 prefix)
  if(NOT der_length EQUAL 182 OR NOT prefix STREQUAL p256_prefix)
    message(FATAL_ERROR "LAUNCHER_RELEASE_PUBLIC_KEY: ${LAUNCHER_RELEASE_PUBLIC_KEY} is not an uncompressed P-256 (prime256v1) public key")
  endif()
  string(SUBSTRING "${der}" 54 128 point)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " release_key_bytes "${point}")
  set(release_key_built_in "true")
  message(STATUS "Release key: ${LAUNCHER_RELEASE_PUBLIC_KEY}")
endif()

file(CONFIGURE OUTPUT ${LAUNCHER_RELEASE_KEY_HEADER} CONTENT
"// Generated from LAUNCHER_RELEASE_PUBLIC_KEY; raw X||Y of the P-256 release key, if any.
#pragma once

static const bool kReleaseKeyBuiltIn = ${release_key_built_in};
static const unsigned char kReleasePublicKey[64] = {${release_key_bytes}};
" NEWLINE_STYLE UNIX)
