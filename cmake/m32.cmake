# 32-bit x86 build on an x86_64 Debian host with g++-multilib:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/m32.cmake -DQDPARSE_GTEST_SOURCE=/usr/src/googletest ...
# Test binaries run through qemu-i386, also when gtest_discover_tests lists
# them at build time, since the kernel may not run 32-bit programs.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)

# Multiarch i386 packages install under lib/i386-linux-gnu, multilib ones
# under lib32; find_library searches both (lib32 because pointers are 4 bytes)
# and never the host's x86_64 directories.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/i386-linux-gnu/pkgconfig:/usr/lib32/pkgconfig:/usr/share/pkgconfig)

find_program(QDPARSE_QEMU_I386 qemu-i386 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QDPARSE_QEMU_I386})
