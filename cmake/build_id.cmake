# The build identity: which source a program was built from and which release keys it trusts, so
# that two builds (one key or two, this revision or the last) can be told apart on a desktop. It
# becomes the product version text of the program's version record, which software distribution
# can read in a detection rule, and one line of the log at every start.
#
# LAUNCHER_BUILD_ID names the source; empty (the default) takes `git describe --always --dirty` of
# the checkout at every build (cmake/write_product_version.cmake), so that the text follows commits,
# checkouts and uncommitted edits alike, or "unknown" outside git.

set(LAUNCHER_BUILD_ID "" CACHE STRING "Build identity in the product version text; empty: the source revision (git describe --always --dirty), or unknown outside git")
# The version record's numeric version (res/DesktopLauncher.rc takes it from the generated header),
# at the start of the product version text.
set(LAUNCHER_VERSION_NUMBER "1.2.2.0")

# A given identity is checked now, so that a bad one fails the configure rather than the build.
if(NOT LAUNCHER_BUILD_ID STREQUAL "" AND
   (NOT LAUNCHER_BUILD_ID MATCHES "^[A-Za-z0-9._+-]+$" OR LAUNCHER_BUILD_ID MATCHES "^.{65}"))
  message(FATAL_ERROR "LAUNCHER_BUILD_ID must be 1 to 64 letters, digits and . _ + - : ${LAUNCHER_BUILD_ID}")
endif()
find_program(GIT_COMMAND git)

# Writes <binary dir>/generated/<target>/product_version.h at every build (only when its text
# changed), the product version text of a program that trusts the keys with these fingerprints (a
# list; empty: none), and adds its folder to the include path of whatever links target, which is
# built after it. quiet: do not print the text (test keys).
function(launcher_product_version target fingerprints quiet)
  if(fingerprints STREQUAL "")
    set(keys "none")
  else()
    string(REPLACE ";" "," keys "${fingerprints}")
  endif()
  set(folder ${CMAKE_BINARY_DIR}/generated/${target})
  add_custom_target(${target}_product_version
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${folder}/product_version.h -DVERSION_NUMBER=${LAUNCHER_VERSION_NUMBER}
            -DBUILD_ID=${LAUNCHER_BUILD_ID} -DGIT=${GIT_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DKEYS=${keys}
            -DQUIET=${quiet} -P ${CMAKE_SOURCE_DIR}/cmake/write_product_version.cmake
    BYPRODUCTS ${folder}/product_version.h
    VERBATIM)
  add_dependencies(${target} ${target}_product_version)
  target_include_directories(${target} INTERFACE ${folder})
endfunction()
