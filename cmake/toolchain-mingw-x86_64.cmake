# Cross build for 64-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QARN_TRIPLE x86_64-w64-mingw32)
set(QARN_WIDL_FLAGS --win64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
