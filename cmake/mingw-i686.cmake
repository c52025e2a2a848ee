# Cross build for 32-bit Windows with mingw-w64 (Debian's i686-w64-mingw32 compilers, posix
# threads): the program that ships for the original platform.
# Use: cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(_qm_triple i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
