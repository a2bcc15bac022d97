# The manifest check on copies of the contract header, each changed one way:
# growth passes, a break fails naming what moved. The copies are made from
# the header as it is, so the cases keep up with it.
#   cmake -DSOURCE_DIR=<repository> -DCC=<i686-w64-mingw32-gcc> -DWORK=<scratch>
#         -P contract_manifest_breaks.cmake
cmake_minimum_required(VERSION 3.25)
set(_header "${SOURCE_DIR}/sdk/contract/korvo_plugin.h")
file(READ "${_header}" _original)

set(_failures "")
set(_index 0)
# One case: the header with find replaced by replacement, and what the check
# must say: pass, or the text of its failure.
function(_case name expect find replacement)
  string(FIND "${_original}" "${find}" _at)
  if(_at EQUAL -1)
    set(_failures "${_failures}${name}: the header no longer has the text this case changes:\n${find}\n" PARENT_SCOPE)
    return()
  endif()
  math(EXPR _index "${_index} + 1")
  set(_index ${_index} PARENT_SCOPE)
  string(REPLACE "${find}" "${replacement}" _changed "${_original}")
  set(_copy "${WORK}/case${_index}/korvo_plugin.h")
  file(WRITE "${_copy}" "${_changed}")
  execute_process(COMMAND ${CMAKE_COMMAND} -DMODE=check -DHEADER=${_copy}
                          -DMANIFEST=${SOURCE_DIR}/sdk/contract/contract-manifest.txt
                          -DCC=${CC} -DWORK=${WORK}/case${_index}/work
                          -P ${SOURCE_DIR}/sdk/contract/contract_manifest.cmake
                  RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
  if(expect STREQUAL "pass")
    if(NOT _rc EQUAL 0)
      set(_failures "${_failures}${name}: refused, though the contract only grew:\n${_out}\n" PARENT_SCOPE)
    endif()
  else()
    string(FIND "${_out}" "${expect}" _found)
    if(_rc EQUAL 0 OR _found EQUAL -1)
      set(_failures "${_failures}${name}: expected a failure saying\n${expect}\ngot (exit ${_rc}):\n${_out}\n" PARENT_SCOPE)
    endif()
  endif()
endfunction()

set(_request_tail "    const char* functionName;                /* +44 used when method is CALL */\n")
_case("grown: a field at a record's end" pass
  "${_request_tail}" "${_request_tail}    uint32_t appended;\n")
_case("grown: a new code" pass
  "    KORVO_METHOD_CALL = 8 " "    KORVO_METHOD_CALL = 8,\n    KORVO_METHOD_TRACE = 9 ")
_case("moved: a field inserted in the middle" "KorvoHostRequestRecord.body moved from offset 32 to 36"
  "    const char* body; " "    uint32_t inserted;\n    const char* body; ")
_case("renumbered: a code" "KORVO_METHOD_GET was renumbered from 2 to 9"
  "KORVO_METHOD_GET = 2," "KORVO_METHOD_GET = 9,")
_case("removed: a function-table entry" "KorvoHostFunctions.Log was removed"
  "    void(KORVO_CDECL* Log)(const KorvoHostFunctions* self, uint32_t level,\n                           const char* message); /* +36 level: KorvoLogLevel */\n" "")
if(_failures)
  message(FATAL_ERROR "${_failures}")
endif()
