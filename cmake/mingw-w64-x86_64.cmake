# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 toolchain. The posix thread model
# is the one Qt needs (std::thread, std::mutex), so the posix variants of the compilers are used.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZEL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZEL_MINGW_TRIPLET}-windres)

# Libraries, headers and packages come from the toolchain's own root and from the roots given in
# CMAKE_FIND_ROOT_PATH (the Windows builds of Qt and GoogleTest), never from the Linux system;
# programs that run during the build (Qt's moc and rcc) come from the build machine.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${ZEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
