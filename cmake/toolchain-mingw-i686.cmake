# Cross build for 32-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QARN_TRIPLE i686-w64-mingw32)
set(QARN_WIDL_FLAGS --win32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
