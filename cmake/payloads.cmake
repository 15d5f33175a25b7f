# The property file and the launcher archive travel inside the program as length-prefixed records.
# They are turned into a C++ source at build time, so a deployment embeds its own files by setting
# LAUNCHER_PROPERTIES_FILE and LAUNCHER_JAR_FILE.

set(LAUNCHER_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)

if(LAUNCHER_PROPERTIES_FILE STREQUAL "")
  set(LAUNCHER_PROPERTIES_INPUT ${LAUNCHER_GENERATED_DIR}/launcher.properties)
  file(CONFIGURE OUTPUT ${LAUNCHER_PROPERTIES_INPUT}
       CONTENT "# prod property file\n#\n# hostname for initial jre, https is used\nhostname=${LAUNCHER_PRODUCTION_HOST}\n"
       NEWLINE_STYLE UNIX)
else()
  set(LAUNCHER_PROPERTIES_INPUT ${LAUNCHER_PROPERTIES_FILE})
endif()

set(LAUNCHER_PAYLOAD_SOURCE ${LAUNCHER_GENERATED_DIR}/payload_data.cpp)
add_custom_command(
  OUTPUT ${LAUNCHER_PAYLOAD_SOURCE}
  COMMAND ${CMAKE_COMMAND}
          -DPROPERTIES_FILE=${LAUNCHER_PROPERTIES_INPUT}
          -DJAR_FILE=${LAUNCHER_JAR_FILE}
          -DOUTPUT=${LAUNCHER_PAYLOAD_SOURCE}
          -P ${CMAKE_SOURCE_DIR}/tools/embed_payloads.cmake
  DEPENDS ${LAUNCHER_PROPERTIES_INPUT} ${LAUNCHER_JAR_FILE} ${CMAKE_SOURCE_DIR}/tools/embed_payloads.cmake
  COMMENT "Embedding the property file and the launcher archive"
  VERBATIM)
