# Cross toolchain: mingw-w64 for 64-bit Windows (x86-64), Debian's
# win32-thread flavour.
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
