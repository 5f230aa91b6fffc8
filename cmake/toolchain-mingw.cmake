# Shared part of the cross builds with the MinGW-w64 posix-thread compilers: the architecture's
# toolchain file sets CMAKE_SYSTEM_PROCESSOR, QARN_TRIPLE and QARN_WIDL_FLAGS, then includes this.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${QARN_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QARN_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QARN_TRIPLE}-windres)
set(QARN_WIDL ${QARN_TRIPLE}-widl)
set(CMAKE_FIND_ROOT_PATH /usr/${QARN_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
