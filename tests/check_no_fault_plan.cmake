# Fails when the product's program holds the fault plan's file name (UTF-16, as the program keeps
# it) or when the test build's program does not (then the check would prove nothing).
set(marker "6600610075006c0074002d0070006c0061006e002e00740078007400") # "fault-plan.txt"
foreach(kind PRODUCT TEST_BUILD)
  file(READ "${${kind}}" bytes HEX)
  string(FIND "${bytes}" "${marker}" at)
  set(found_${kind} ${at})
endforeach()
if(NOT found_PRODUCT EQUAL -1)
  message(FATAL_ERROR "the product ${PRODUCT} holds the fault plan")
endif()
if(found_TEST_BUILD EQUAL -1)
  message(FATAL_ERROR "the test build ${TEST_BUILD} holds no fault plan: the check proves nothing")
endif()
message(STATUS "fault plan: in the test build only")
