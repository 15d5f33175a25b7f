# The release keys: LAUNCHER_RELEASE_PUBLIC_KEY names one PEM public key (P-256), or a ;-separated
# list of up to four, whose signature a version file must carry; a signature by any of them counts,
# so that launchers can carry the old and the new key while a key is rotated. The keys are turned
# into a source file with their raw X||Y at configure time (openssl reads the PEM), so the program
# needs no parser of its own. Empty: no key, and every download is trusted on TLS alone. The keys
# are a library of their own (one object), so that the test build can link the same program with
# test keys beside the product's.
#
# Each key's fingerprint is printed: the SHA-256 of its standard (DER SubjectPublicKeyInfo)
# encoding, "SHA256:" and 64 lowercase hex digits, as `tools/release keygen` and `sign` print it.

set(LAUNCHER_RELEASE_PUBLIC_KEY "" CACHE STRING "PEM public key (P-256), or a ;-separated list of up to four, whose signature a version file must carry; empty for none")
set(LAUNCHER_RELEASE_KEY_LIMIT 4)

# Sets out_point to the hex of the raw X||Y of pem and out_fingerprint to its fingerprint.
function(launcher_release_key_point pem output out_point out_fingerprint)
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
  file(SHA256 ${der_file} fingerprint)
  file(REMOVE ${der_file})
  # A P-256 key in its standard encoding: fixed 26-byte header (id-ecPublicKey, prime256v1, bit
  # string) and the uncompressed point 04||X||Y.
  set(p256_prefix "3059301306072a8648ce3d020106082a8648ce3d03010703420004")
  string(LENGTH "${der}" der_length)
  string(SUBSTRING "${der}" 0 54 prefix)
  if(NOT der_length EQUAL 182 OR NOT prefix STREQUAL p256_prefix)
    message(FATAL_ERROR "Release key: ${pem} is not an uncompressed P-256 (prime256v1) public key")
  endif()
  string(SUBSTRING "${der}" 54 128 point)
  set(${out_point} ${point} PARENT_SCOPE)
  set(${out_fingerprint} "SHA256:${fingerprint}" PARENT_SCOPE)
endfunction()

# Writes output, a source that defines the release keys of pems (a list of PEM public keys, or ""
# for none), and sets LAUNCHER_RELEASE_KEY_FINGERPRINTS to their fingerprints. quiet: print no
# fingerprints (test keys).
function(launcher_release_key_source pems output quiet)
  list(LENGTH pems count)
  if(count GREATER LAUNCHER_RELEASE_KEY_LIMIT)
    message(FATAL_ERROR "Release key: ${count} keys given, at most ${LAUNCHER_RELEASE_KEY_LIMIT}")
  endif()
  set(rows "")
  set(fingerprints "")
  foreach(pem IN LISTS pems)
    launcher_release_key_point(${pem} ${output} point fingerprint)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " bytes "${point}")
    string(APPEND rows "    {${bytes}},\n")
    list(APPEND fingerprints ${fingerprint})
    if(NOT quiet)
      message(STATUS "Release key ${fingerprint} (${pem})")
    endif()
  endforeach()
  if(count EQUAL 0)
    set(rows "    {0},\n")
  endif()
  file(CONFIGURE OUTPUT ${output} CONTENT
"// Generated from the release keys \"${pems}\"; raw X||Y of each P-256 key.
#include \"provision/release_key.h\"

extern const size_t kReleaseKeyCount = ${count};
extern const unsigned char kReleasePublicKeys[kReleaseKeyLimit][kReleasePublicKeySize] = {
${rows}};
" NEWLINE_STYLE UNIX)
  set(LAUNCHER_RELEASE_KEY_FINGERPRINTS "${fingerprints}" PARENT_SCOPE)
endfunction()

# A static library named target holding the release keys of pems, with the product version text
# that names them (cmake/build_id.cmake) for the programs that link it.
function(launcher_release_key_library target pems)
  set(quiet FALSE)
  if(ARGC GREATER 2)
    set(quiet ${ARGV2})
  endif()
  set(source ${CMAKE_BINARY_DIR}/generated/${target}.cpp)
  launcher_release_key_source("${pems}" ${source} ${quiet})
  add_library(${target} STATIC ${source})
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  target_compile_options(${target} PRIVATE ${LAUNCHER_WARNINGS})
  launcher_product_version(${target} "${LAUNCHER_RELEASE_KEY_FINGERPRINTS}" ${quiet})
endfunction()

if(LAUNCHER_RELEASE_PUBLIC_KEY STREQUAL "")
  message(WARNING "No release key (LAUNCHER_RELEASE_PUBLIC_KEY is empty): this launcher trusts every "
                  "download on TLS alone. Whoever can answer for the download host (a compromised "
                  "server or mirror, a proxy that inspects TLS) can run code on the users' machines. "
                  "Build production launchers with the release public key (docs/deployment.md).")
endif()
