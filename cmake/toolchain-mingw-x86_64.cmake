# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads): the
# Windows tests' build for machines that cannot execute 32-bit programs,
# where they run under wine64. The product stays 32-bit; its record layouts
# are checked by the i686 build, which always compiles.
set(KORVO_MINGW_PROCESSOR x86_64)
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-i686.cmake")
