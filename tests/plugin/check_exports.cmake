# Checks that a built plug-in library exports exactly one symbol,
# load_qem_quorvex_zv, undecorated. Runs on the build machine (never under
# Wine): -DLIBRARY=<path> -DTOOL=<nm or objdump> -DKIND=<elf or pe>.
cmake_policy(SET CMP0007 NEW)
if(KIND STREQUAL "pe")
  execute_process(COMMAND ${TOOL} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${TOOL} -p failed on ${LIBRARY}")
  endif()
  # The name pointer table: lines "\t[ordinal] name" after its header.
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[ 0-9]+\\][^\n]*\n)*)" table "${dump}")
  string(REGEX MATCHALL "\\][ \t]+[^\n]+" entries "${CMAKE_MATCH_1}")
  set(names)
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^\\][ \t]+" "" name "${entry}")
    string(STRIP "${name}" name)
    list(APPEND names "${name}")
  endforeach()
else()
  execute_process(COMMAND ${TOOL} -D --defined-only --format=just-symbols ${LIBRARY}
                  OUTPUT_VARIABLE dump RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${TOOL} -D failed on ${LIBRARY}")
  endif()
  string(REPLACE "\n" ";" names "${dump}")
  list(FILTER names EXCLUDE REGEX "^[ \t]*$")
endif()

if(NOT names STREQUAL "load_qem_quorvex_zv")
  message(FATAL_ERROR "${LIBRARY} exports [${names}], expected exactly [load_qem_quorvex_zv]")
endif()
message(STATUS "${LIBRARY} exports exactly load_qem_quorvex_zv")
