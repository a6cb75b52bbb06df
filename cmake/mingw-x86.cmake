# Cross toolchain: mingw-w64 for 32-bit Windows (i686), Debian's win32-thread
# flavour.
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
