# Cross-compiling for 64-bit Windows with Debian's mingw-w64 compilers (posix threads, so
# std::thread and Qt's threads work). BRELVON_WINDOWS_PREFIX is the folder of the cross-built
# dependencies.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 $ENV{BRELVON_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Qt's host tools (moc, rcc, uic) are found as packages of the build machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
