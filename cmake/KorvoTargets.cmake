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
    # Public: whatever links a sanitized library needs the sanitizer's runtime.
    target_link_options(${target} PUBLIC -fsanitize=${_san})
  endif()
  if(WIN32)
    # One printf family on both targets: mingw's C99-conforming one.
    target_compile_definitions(${target} PRIVATE __USE_MINGW_ANSI_STDIO=1 WIN32_LEAN_AND_MEAN NOMINMAX)
  endif()
endfunction()

# korvo_add_library(<name> [INTERFACE|OBJECT] SOURCES ... [PRIVATE_HEADERS ...]
#                   [DEPENDS ...]):
# one project library. An SDK library (one under sdk/) is also installed:
# its headers but the PRIVATE_HEADERS (those only its own sources include),
# and the library itself as KorvoSdk::<name without korvo_>, which is also
# its name in this tree. DEPENDS are the libraries it links; its sources may
# include headers only from their own folders and from the folders of those
# libraries and of everything they link in turn, and no other library's
# private headers (KorvoCheckLayers.cmake, checked as each object compiles).
function(korvo_add_library name)
  cmake_parse_arguments(ARG "INTERFACE;OBJECT" "" "SOURCES;PRIVATE_HEADERS;DEPENDS" ${ARGN})
  set(_private "")
  foreach(_header IN LISTS ARG_PRIVATE_HEADERS)
    get_filename_component(_path "${_header}" ABSOLUTE)
    file(RELATIVE_PATH _path "${PROJECT_SOURCE_DIR}" "${_path}")
    list(APPEND _private "${_path}")
  endforeach()

  string(REGEX REPLACE "^korvo_" "" _export_name "${name}")
  if(ARG_INTERFACE)
    add_library(${name} INTERFACE ${ARG_SOURCES} ${ARG_PRIVATE_HEADERS})
    target_include_directories(${name} INTERFACE
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}> $<INSTALL_INTERFACE:${KORVO_INSTALL_INCLUDEDIR}>)
    target_link_libraries(${name} INTERFACE ${ARG_DEPENDS})
  else()
    if(ARG_OBJECT)
      add_library(${name} OBJECT ${ARG_SOURCES} ${ARG_PRIVATE_HEADERS})
    else()
      add_library(${name} STATIC ${ARG_SOURCES} ${ARG_PRIVATE_HEADERS})
    endif()
    target_include_directories(${name} PUBLIC
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}> $<INSTALL_INTERFACE:${KORVO_INSTALL_INCLUDEDIR}>)
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
    target_compile_features(${name} PUBLIC cxx_std_20)
    korvo_target_defaults(${name})
  endif()
  set_target_properties(${name} PROPERTIES
    KORVO_LIBRARY TRUE KORVO_PRIVATE_HEADERS "${_private}" EXPORT_NAME ${_export_name})
  add_library(KorvoSdk::${_export_name} ALIAS ${name})
  _korvo_install_sdk_library(${name} "${ARG_SOURCES}" "${ARG_PRIVATE_HEADERS}")
endfunction()

# The SDK's libraries and public headers go into the installed package
# (cmake/KorvoInstall.cmake writes its configuration). Headers keep their
# path below the tree ("sdk/host/plugin_core.h") under include/korvo.
set(KORVO_INSTALL_INCLUDEDIR include/korvo)
function(_korvo_install_sdk_library name sources private_headers)
  file(RELATIVE_PATH _folder "${PROJECT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}")
  if(NOT _folder MATCHES "^sdk/")
    return()
  endif()
  set(_headers "")
  foreach(_source IN LISTS sources)
    if(_source MATCHES "\\.h$" AND NOT _source IN_LIST private_headers)
      list(APPEND _headers "${_source}")
    endif()
  endforeach()
  install(FILES ${_headers} DESTINATION ${KORVO_INSTALL_INCLUDEDIR}/${_folder} COMPONENT sdk)
  # The API reference (make docs) covers exactly the installed headers.
  foreach(_header IN LISTS _headers)
    set_property(GLOBAL APPEND PROPERTY KORVO_PUBLIC_HEADERS "${CMAKE_CURRENT_SOURCE_DIR}/${_header}")
  endforeach()
  install(TARGETS ${name} EXPORT KorvoSdkTargets
    ARCHIVE DESTINATION lib COMPONENT sdk
    OBJECTS DESTINATION lib/korvo-objects COMPONENT sdk)
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
