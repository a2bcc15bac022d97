# Helpers shared by every project target.

# korvo_target_defaults(<target>): warnings, sanitizers and platform flags
# for project code (never for third-party sources).
function(korvo_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(KORVO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(KORVO_SANITIZE)
    string(REPLACE ";" "," _san "${KORVO_SANITIZE}")
    target_compile_options(${target} PRIVATE -fsanitize=${_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(${target} PRIVATE -fsanitize=${_san})
  endif()
  if(WIN32)
    # One printf family on both targets: mingw's C99-conforming one.
    target_compile_definitions(${target} PRIVATE __USE_MINGW_ANSI_STDIO=1 WIN32_LEAN_AND_MEAN NOMINMAX)
  endif()
endfunction()

# korvo_add_library(<name> SOURCES ... [DEPENDS ...]): one SDK static library.
function(korvo_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;PUBLIC_DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS} ${ARG_PUBLIC_DEPENDS})
  korvo_target_defaults(${name})
endfunction()

# korvo_add_test(<name> SOURCES ... [DEPENDS ...] [CONCURRENCY]): one test
# executable registered with CTest. CONCURRENCY marks tests that also run
# under ThreadSanitizer; a build with KORVO_CONCURRENCY_TESTS_ONLY builds
# just those.
function(korvo_add_test name)
  cmake_parse_arguments(ARG "CONCURRENCY" "TIMEOUT" "SOURCES;DEPENDS;LABELS" ${ARGN})
  if(KORVO_CONCURRENCY_TESTS_ONLY AND NOT ARG_CONCURRENCY)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} korvo_test_support korvo_new_delete)
  korvo_target_defaults(${name})
  add_test(NAME ${name} COMMAND ${name})
  set(_labels ${ARG_LABELS})
  if(ARG_CONCURRENCY)
    list(APPEND _labels concurrency)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${ARG_TIMEOUT}
    LABELS "${_labels}"
    ENVIRONMENT "KORVO_BENCH_DATA=${KORVO_BENCH_DATA};ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;TSAN_OPTIONS=halt_on_error=1:allocator_may_return_null=1")
endfunction()
