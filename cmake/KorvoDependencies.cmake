# Every dependency comes from the system (Debian's packages); nothing is
# downloaded at configure or build time.

find_package(Threads REQUIRED)

# RapidJSON is header-only.
find_path(RAPIDJSON_INCLUDE_DIR rapidjson/reader.h
  HINTS ${KORVO_RAPIDJSON_INCLUDE_DIR} /usr/include NO_CMAKE_FIND_ROOT_PATH)
if(NOT RAPIDJSON_INCLUDE_DIR)
  message(FATAL_ERROR "RapidJSON not found: run scripts/install-deps")
endif()
add_library(korvo_rapidjson INTERFACE)
# A private copy of the include directory keeps the cross build from seeing
# the rest of the host's /usr/include.
if(CMAKE_CROSSCOMPILING)
  file(COPY ${RAPIDJSON_INCLUDE_DIR}/rapidjson DESTINATION ${CMAKE_BINARY_DIR}/third_party/rapidjson-include)
  target_include_directories(korvo_rapidjson SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/third_party/rapidjson-include)
else()
  target_include_directories(korvo_rapidjson SYSTEM INTERFACE ${RAPIDJSON_INCLUDE_DIR})
endif()

# libyaml: the system's for native builds; for the Windows target the static
# library that scripts/build-libyaml-win32 builds from Debian's sources (the
# x86_64 one for the 64-bit test build).
add_library(korvo_yaml INTERFACE)
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(_libyaml_folder libyaml-win64)
    set(_libyaml_script "scripts/build-libyaml-win32 x86_64")
  else()
    set(_libyaml_folder libyaml-win32)
    set(_libyaml_script "scripts/install-deps")
  endif()
  set(KORVO_LIBYAML_WIN32 "${PROJECT_SOURCE_DIR}/build/third_party/${_libyaml_folder}" CACHE PATH "libyaml built for Windows")
  if(NOT EXISTS "${KORVO_LIBYAML_WIN32}/lib/libyaml.a")
    message(FATAL_ERROR "libyaml for Windows not found in ${KORVO_LIBYAML_WIN32}: run ${_libyaml_script}")
  endif()
  target_include_directories(korvo_yaml SYSTEM INTERFACE ${KORVO_LIBYAML_WIN32}/include)
  target_compile_definitions(korvo_yaml INTERFACE YAML_DECLARE_STATIC)
  target_link_libraries(korvo_yaml INTERFACE ${KORVO_LIBYAML_WIN32}/lib/libyaml.a)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LIBYAML REQUIRED IMPORTED_TARGET yaml-0.1)
  target_link_libraries(korvo_yaml INTERFACE PkgConfig::LIBYAML)
endif()

# GoogleTest: the system's libraries natively; for the Windows target built
# from the sources that Debian's googletest package installs.
if(KORVO_BUILD_TESTS)
  if(CMAKE_CROSSCOMPILING)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/third_party/googletest EXCLUDE_FROM_ALL SYSTEM)
  else()
    find_package(GTest REQUIRED)
  endif()
endif()
