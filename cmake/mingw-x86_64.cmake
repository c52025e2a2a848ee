# Cross build for 64-bit Windows with mingw-w64 (Debian's x86_64-w64-mingw32 compilers, posix
# threads): the same program for 64-bit Wine, which runs without Wine's 32-bit half.
# Use: cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_qm_triple x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
