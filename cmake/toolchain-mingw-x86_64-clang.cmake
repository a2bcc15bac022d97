# The release configuration (clang, lld, CodeView PDB) for 64-bit Windows:
# not shipped, but where 32-bit programs cannot run, the release DLL's crash
# test runs on this build under wine64 (scripts/test-release).
set(KORVO_MINGW_PROCESSOR x86_64)
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-i686-clang.cmake")
