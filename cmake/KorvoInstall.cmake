# The installed SDK package: `cmake --install <build> --component sdk
# --prefix <dir>` puts the public headers under include/korvo, the static
# libraries under lib and the package configuration under
# lib/cmake/KorvoSdk, so that a plug-in outside this tree builds with
#
#   find_package(KorvoSdk CONFIG REQUIRED)
#   korvo_add_plugin(my-plugin EXPORT load_my_plugin SOURCES entry.cpp ...)
#
# The package is for the compiler and target it was built with: install the
# native build for native plug-ins and the win32 build for the DLL.
include(CMakePackageConfigHelpers)

set(_korvo_cmake_dir lib/cmake/KorvoSdk)
install(EXPORT KorvoSdkTargets NAMESPACE KorvoSdk:: DESTINATION ${_korvo_cmake_dir} COMPONENT sdk)

# What the libraries need from the system, found again where the package is
# used: the thread library everywhere, libyaml for the readers (the system's
# natively, the static one built for the DLL otherwise).
set(KORVO_PACKAGE_WIN32_LIBYAML "")
if(WIN32)
  install(FILES "${KORVO_LIBYAML_WIN32}/lib/libyaml.a" DESTINATION lib COMPONENT sdk RENAME libkorvo_yaml.a)
  set(KORVO_PACKAGE_WIN32_LIBYAML ON)
endif()

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KorvoSdkConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/KorvoSdkConfig.cmake
  INSTALL_DESTINATION ${_korvo_cmake_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/KorvoSdkConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES
    ${CMAKE_CURRENT_BINARY_DIR}/KorvoSdkConfig.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/KorvoSdkConfigVersion.cmake
    ${PROJECT_SOURCE_DIR}/cmake/KorvoPlugin.cmake
    ${PROJECT_SOURCE_DIR}/cmake/korvo_runtime_release.cpp
  DESTINATION ${_korvo_cmake_dir} COMPONENT sdk)
