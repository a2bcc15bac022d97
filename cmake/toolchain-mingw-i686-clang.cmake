# Release build for 32-bit Windows: clang and lld against Debian's mingw-w64
# headers, runtime and libstdc++ (the same ones the gcc build uses). clang
# writes CodeView, so lld can link a PDB with every function of the plug-in;
# GNU ld's PDB holds only the public symbols and no line numbers.
# toolchain-mingw-x86_64-clang.cmake reuses it for a 64-bit build of the same
# release configuration by naming another processor first.
if(NOT KORVO_MINGW_PROCESSOR)
  set(KORVO_MINGW_PROCESSOR i686)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KORVO_MINGW_PROCESSOR})

set(_triple ${KORVO_MINGW_PROCESSOR}-w64-mingw32)
# The libstdc++, libgcc and winpthreads of Debian's posix-threads mingw-w64
# g++ (clang does not find its version folder, "12-posix", by itself).
file(GLOB _gcc_dirs LIST_DIRECTORIES true /usr/lib/gcc/${_triple}/*-posix)
list(SORT _gcc_dirs)
if(_gcc_dirs)
  list(GET _gcc_dirs -1 KORVO_MINGW_GCC_DIR)
endif()
if(NOT IS_DIRECTORY "${KORVO_MINGW_GCC_DIR}/include/c++")
  message(FATAL_ERROR "mingw-w64 g++ (posix threads) not found: run scripts/install-deps")
endif()

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${_triple})
set(CMAKE_CXX_COMPILER_TARGET ${_triple})
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_AR llvm-ar CACHE FILEPATH "")
set(CMAKE_RANLIB llvm-ranlib CACHE FILEPATH "")

set(_cxx_inc "${KORVO_MINGW_GCC_DIR}/include/c++")
set(CMAKE_CXX_FLAGS_INIT "-nostdinc++ -isystem ${_cxx_inc} -isystem ${_cxx_inc}/${_triple} -isystem ${_cxx_inc}/backward")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${KORVO_MINGW_GCC_DIR} -static -static-libgcc -static-libstdc++ -pthread")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${CMAKE_EXE_LINKER_FLAGS_INIT}")

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(KORVO_MINGW_PROCESSOR STREQUAL "x86_64")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run;--win64")
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run")
endif()
