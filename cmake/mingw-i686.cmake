# Cross build for 32-bit Windows with Debian's mingw-w64 i686 toolchain
# (package g++-mingw-w64-i686):
#   cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(ORVIT_MINGW_PREFIX i686-w64-mingw32)
# The win32 thread model needs no winpthread DLL beside the module.
find_program(CMAKE_CXX_COMPILER NAMES ${ORVIT_MINGW_PREFIX}-g++-win32 ${ORVIT_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${ORVIT_MINGW_PREFIX}-gcc-win32 ${ORVIT_MINGW_PREFIX}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${ORVIT_MINGW_PREFIX}-windres)
find_program(CMAKE_OBJDUMP NAMES ${ORVIT_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${ORVIT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every binary stands alone: the C and C++ runtimes are linked in, so the
# host (or Wine) needs no libgcc or libstdc++ DLL.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
