# 32-bit Windows DLL with Debian's MinGW-w64 cross compiler (g++-mingw-w64-i686):
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DQDPARSE_BUILD_TESTS=OFF ...
# Nothing built here runs on this machine; scripts/test checks the DLL's
# export table instead.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QDPARSE_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${QDPARSE_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${QDPARSE_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${QDPARSE_MINGW_PREFIX}-windres)

# The compiler's runtime goes into the DLL, so that it needs only the system
# DLLs beside it.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

set(CMAKE_FIND_ROOT_PATH /usr/${QDPARSE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
