# Run at every build (cmake -P, from launcher_product_version in cmake/build_id.cmake): writes the
# product version header of one program from the source as it is now, so that an edit made without
# a commit shows as -dirty and no identity is left over from an earlier configure. The header is
# written only when its text changed: a build with nothing changed recompiles nothing.
#
# -D OUTPUT: the header; VERSION_NUMBER: the numeric version, as 1.2.2.0; BUILD_ID: the identity
# given when configuring, empty: take it from git (GIT: the git program or its -NOTFOUND, SOURCE_DIR: the checkout);
# KEYS: the fingerprints' text ("none" without a key); QUIET: print nothing (test keys).

set(identity "${BUILD_ID}")
if(identity STREQUAL "")
  set(identity "unknown")
  if(GIT)
    # Only the source's own checkout names it: a source tree without one, unpacked inside another
    # checkout, would otherwise take that checkout's revision.
    get_filename_component(above "${SOURCE_DIR}" DIRECTORY)
    set(ENV{GIT_CEILING_DIRECTORIES} "${above}")
    execute_process(COMMAND ${GIT} describe --always --dirty WORKING_DIRECTORY ${SOURCE_DIR}
                    RESULT_VARIABLE git_result OUTPUT_VARIABLE git_output ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(git_result EQUAL 0 AND NOT git_output STREQUAL "")
      set(identity "${git_output}")
    endif()
  endif()
endif()
# It goes into a C string, a resource script and a detection rule: one word of plain characters.
if(NOT identity MATCHES "^[A-Za-z0-9._+-]+$" OR identity MATCHES "^.{65}")
  message(FATAL_ERROR "LAUNCHER_BUILD_ID must be 1 to 64 letters, digits and . _ + - : ${identity}")
endif()

set(text "${VERSION_NUMBER} build ${identity} keys ${KEYS}")
string(REPLACE "." "," numbers "${VERSION_NUMBER}")
set(content
"// Generated at build time: the product version text of the version record and the start-up log.
#pragma once
#define LAUNCHER_FILEVERSION ${numbers}
#define LAUNCHER_VERSION_STRING \"${VERSION_NUMBER}\"
#define LAUNCHER_PRODUCT_VERSION \"${text}\"
#define LAUNCHER_PRODUCT_VERSION_WIDE L\"${text}\"
")
set(before "")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} before)
endif()
if(NOT before STREQUAL content)
  file(WRITE ${OUTPUT} "${content}")
  if(NOT QUIET)
    message(STATUS "Product version: ${text}")
  endif()
endif()
