# Compiles one snippet with the tree on the include path and judges it by
# its first line: "// compiles", or "// refused: <regex>" for a compile that
# fails with the converters' assertion and names the type (regex) the
# author wrote, however the compiler spells it.
#   cmake -DCXX=<compiler> -DROOT=<source tree> -DSOURCE=<snippet> -P compile_snippet.cmake
file(STRINGS "${SOURCE}" first LIMIT_COUNT 1)
execute_process(
  COMMAND "${CXX}" -std=c++20 -Wall -Wextra -Werror -fsyntax-only "-I${ROOT}" "${SOURCE}"
  RESULT_VARIABLE code
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)

set(assertion "this type cannot be bound: a field, argument, result or event payload must be")
if(first STREQUAL "// compiles")
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "${SOURCE} should compile:\n${output}")
  endif()
elseif(first MATCHES "^// refused: (.+)$")
  set(type "${CMAKE_MATCH_1}")
  if(code EQUAL 0)
    message(FATAL_ERROR "${SOURCE} compiled; a field or argument of ${type} should be refused")
  endif()
  string(FIND "${output}" "${assertion}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${SOURCE} failed without the converters' assertion:\n${output}")
  endif()
  if(NOT output MATCHES "${type}")
    message(FATAL_ERROR "${SOURCE}: the diagnostic does not name ${type}:\n${output}")
  endif()
else()
  message(FATAL_ERROR "${SOURCE}: the first line says neither '// compiles' nor '// refused: <type>'")
endif()
