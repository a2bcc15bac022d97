# Compiles the contract header (through contract_probe.c) as C and as C++
# with GCC, Clang, Clang's Microsoft targets (Microsoft's layout rules and
# spellings) and the MinGW compiler of the Windows build, 32- and 64-bit,
# each with its size and offset checks active; then proves for each that a
# failing check stops the build.
#
#   cmake -DSOURCE_DIR=<repository> -DPROBE=<contract_probe.c>
#         -DGCC=<gcc> -DCLANG=<clang> -DMINGW=<i686-w64-mingw32-gcc>
#         -P check_contract_header.cmake
#
# GCC has no 32-bit C library here, so its 32-bit runs are freestanding (the
# header needs only <stddef.h> and <stdint.h>, which the compiler supplies).

set(_warnings -Wall -Wextra -Werror -pedantic)
foreach(_tool GCC CLANG MINGW)
  if(NOT ${_tool} OR NOT EXISTS "${${_tool}}")
    message(FATAL_ERROR "compiler ${_tool} not found: run scripts/install-deps")
  endif()
endforeach()

# "name|compiler flags", the flags separated by blanks.
set(_c11 "-x c -std=c11")
set(_c99 "-x c -std=c99")  # no _Static_assert: the header's fallback check
set(_cxx "-x c++ -std=c++20")
set(_configurations
  "gcc C11|${GCC} ${_c11}"
  "gcc C99|${GCC} ${_c99}"
  "gcc C11 32-bit|${GCC} -m32 -ffreestanding ${_c11}"
  "g++ C++20|${GCC} ${_cxx}"
  "g++ C++20 32-bit|${GCC} -m32 -ffreestanding ${_cxx}"
  "clang C11|${CLANG} ${_c11}"
  "clang++ C++20|${CLANG} ${_cxx}"
  "clang C11 i686-linux|${CLANG} --target=i686-linux-gnu -ffreestanding ${_c11}"
  "clang C11 i686-msvc|${CLANG} --target=i686-pc-windows-msvc -ffreestanding ${_c11}"
  "clang C++20 i686-msvc|${CLANG} --target=i686-pc-windows-msvc -ffreestanding ${_cxx}"
  "clang C11 x86_64-msvc|${CLANG} --target=x86_64-pc-windows-msvc -ffreestanding ${_c11}"
  "clang C++20 x86_64-msvc|${CLANG} --target=x86_64-pc-windows-msvc -ffreestanding ${_cxx}"
  "mingw C11|${MINGW} ${_c11}"
  "mingw C++20|${MINGW} ${_cxx}")

set(_failures 0)
foreach(_entry IN LISTS _configurations)
  string(FIND "${_entry}" "|" _bar)
  string(SUBSTRING "${_entry}" 0 ${_bar} _name)
  math(EXPR _bar "${_bar} + 1")
  string(SUBSTRING "${_entry}" ${_bar} -1 _flags)
  separate_arguments(_command UNIX_COMMAND "${_flags}")
  list(APPEND _command ${_warnings} -fsyntax-only -I${SOURCE_DIR} ${PROBE})

  execute_process(COMMAND ${_command} RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
  if(NOT _rc EQUAL 0)
    message(SEND_ERROR "${_name}: the contract header does not compile\n${_out}${_err}")
    math(EXPR _failures "${_failures} + 1")
    continue()
  endif()

  execute_process(COMMAND ${_command} -DKORVO_PROBE_MUST_FAIL RESULT_VARIABLE _rc OUTPUT_VARIABLE _out
                  ERROR_VARIABLE _err)
  if(_rc EQUAL 0 OR NOT _err MATCHES "korvo-probe-must-fail")
    message(SEND_ERROR "${_name}: a failing layout check did not stop the build\n${_out}${_err}")
    math(EXPR _failures "${_failures} + 1")
    continue()
  endif()
  message(STATUS "${_name}: compiles, checks active")
endforeach()

if(_failures GREATER 0)
  message(FATAL_ERROR "${_failures} configuration(s) failed")
endif()
