# Builds the fixture tree beside this script with the tree's layer check and
# reads what the build refused: every case, each under its own target's name,
# and nothing of the targets that keep to their layers.
#   cmake -DFIXTURE=<this folder> -DBINARY=<scratch folder> -DMODULES=<tree>/cmake
#         -DCXX=<compiler> -P run_fixture.cmake
file(REMOVE_RECURSE "${BINARY}")
execute_process(COMMAND ${CMAKE_COMMAND} -G Ninja -S "${FIXTURE}" -B "${BINARY}"
                        "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_MODULE_PATH=${MODULES}"
                RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "the fixture does not configure:\n${_out}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build "${BINARY}" -- -k 0
                RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
if(_rc EQUAL 0)
  message(FATAL_ERROR "the fixture built, wrong-way includes and all:\n${_out}")
endif()

set(_layer_tail "may include only from: cases, low.\nLink the layer (if it is below this one) or move the code.")
set(_expected
  # #include <high/high.h>
  "case_angle includes a layer it does not link:\n  cases/angle.cpp includes high/high.h\ncase_angle ${_layer_tail}"
  # #include "../high/high.h"
  "case_relative includes a layer it does not link:\n  cases/relative.cpp includes high/high.h\ncase_relative ${_layer_tail}"
  # #include MACRO
  "case_macro includes a layer it does not link:\n  cases/macro.cpp includes high/high.h\n"
  # low/leaky.h, allowed itself, includes side/side.h
  "case_through_header includes a layer it does not link:\n  cases/through_header.cpp includes side/side.h\n"
  # an executable and a shared library
  "case_executable includes a layer it does not link:\n  cases/executable.cpp includes high/high.h\n"
  "case_plugin includes a layer it does not link:\n  cases/plugin.cpp includes side/side.h\n"
  # another library's private header, from a library and from a test that
  # links it only through another
  "case_private includes a private header of another library:\n  cases/private.cpp includes low/secret.h, private to low\n"
  "high_test includes a private header of another library:\n  tests/high_test.cpp includes low/secret.h, private to low\n")
set(_failures "")
foreach(_message IN LISTS _expected)
  string(FIND "${_out}" "${_message}" _at)
  if(_at EQUAL -1)
    string(APPEND _failures "expected, not found:\n${_message}\n\n")
  endif()
endforeach()
# Those that keep to their layers: low's own private header, low's public
# one through <> and "../" from high, the white-box test of low.
foreach(_target low side high low_test)
  string(FIND "${_out}" "\n${_target} includes" _at)
  if(NOT _at EQUAL -1)
    string(APPEND _failures "${_target} was refused, though it keeps to its layers\n")
  endif()
endforeach()
foreach(_object low.dir/low/low.cpp high.dir/high/high.cpp low_test.dir/tests/low_test.cpp)
  if(NOT EXISTS "${BINARY}/CMakeFiles/${_object}.o")
    string(APPEND _failures "${_object}.o was not built\n")
  endif()
endforeach()
# A refused object does not stand: building again refuses it again.
execute_process(COMMAND ${CMAKE_COMMAND} --build "${BINARY}" --target case_angle
                RESULT_VARIABLE _rc OUTPUT_VARIABLE _again ERROR_VARIABLE _again)
if(_rc EQUAL 0 OR NOT _again MATCHES "case_angle includes a layer it does not link")
  string(APPEND _failures "a second build took the refused object of case_angle:\n${_again}\n")
endif()
if(_failures)
  message(FATAL_ERROR "${_failures}\nThe build said:\n${_out}")
endif()
