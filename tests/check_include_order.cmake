# Fails when a source under SOURCE_DIR includes a header of a room above its own. The rooms, from
# the bottom: base (the state record, small files, command-line quoting) is used by all, the log by
# all but base, then the folder layout, the network, provisioning, the launch worker, the splash
# window, and the program's entry at the top; above it only the test build's fault plan, which no
# room of the product includes. A room may include its own headers and those of any room below it,
# never one above.
set(rooms base log layout net provision worker ui app testbuild)

file(GLOB_RECURSE sources "${SOURCE_DIR}/*.cpp" "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.in")
set(found 0)
foreach(source ${sources})
  file(RELATIVE_PATH shown "${SOURCE_DIR}" "${source}")
  string(REGEX MATCH "^[^/]+" room "${shown}")
  list(FIND rooms "${room}" level)
  if(level EQUAL -1)
    message(SEND_ERROR "src/${shown}: room ${room} is not in the room order of check_include_order.cmake")
    math(EXPR found "${found} + 1")
    continue()
  endif()
  file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
  foreach(include ${includes})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"/]+)/.*" "\\1" target "${include}")
    list(FIND rooms "${target}" targetLevel)
    if(targetLevel EQUAL -1)
      message(SEND_ERROR "src/${shown}: ${include} names no room")
      math(EXPR found "${found} + 1")
    elseif(targetLevel GREATER level)
      message(SEND_ERROR "src/${shown}: ${include} climbs from ${room} up to ${target}")
      math(EXPR found "${found} + 1")
    endif()
  endforeach()
endforeach()
if(found GREATER 0)
  message(FATAL_ERROR "${found} includes against the room order in ${SOURCE_DIR}")
endif()
list(LENGTH sources checked)
message(STATUS "every include of ${checked} files keeps the room order: ${rooms}")
