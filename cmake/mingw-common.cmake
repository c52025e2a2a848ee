# What the two mingw-w64 toolchain files share; each sets _qm_triple and CMAKE_SYSTEM_PROCESSOR
# before including this file.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model gives std::thread and std::mutex; the win32 model lacks them in GCC 12.
find_program(CMAKE_C_COMPILER NAMES ${_qm_triple}-gcc-posix ${_qm_triple}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${_qm_triple}-g++-posix ${_qm_triple}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${_qm_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_qm_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained executable: the C and C++ runtimes and winpthread linked in, so that only
# system DLLs and the extension library's d3dx9_25.dll are needed beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
