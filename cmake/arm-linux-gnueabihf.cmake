# Cross build for 32-bit little-endian ARM Linux (hard-float EABI) with Debian's cross compiler
# (g++-arm-linux-gnueabihf). Test programs run on the build machine under qemu-user.
#   cmake -S . -B build-armhf -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(FUSEKIT_TARGET_TRIPLET arm-linux-gnueabihf)
set(FUSEKIT_TARGET_ROOT /usr/${FUSEKIT_TARGET_TRIPLET})

set(CMAKE_C_COMPILER ${FUSEKIT_TARGET_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${FUSEKIT_TARGET_TRIPLET}-g++)
# GCC notes where the passing of a parameter differs from GCC before 7.1; everything here is built
# with one compiler, so the note says nothing.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
# CMake finds the matching binutils (nm, strip, objdump, readelf) by the compiler's prefix.

# Libraries, headers and packages come from the target's tree only, never from the host's;
# programs (the emulator, host tools) come from the host.
set(CMAKE_FIND_ROOT_PATH ${FUSEKIT_TARGET_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The statically linked emulator: it ignores the host loader's variables (LD_PRELOAD,
# LD_LIBRARY_PATH) and hands them on to the target program, as a native run would see them.
find_program(FUSEKIT_QEMU_ARM NAMES qemu-arm-static)
if(FUSEKIT_QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FUSEKIT_QEMU_ARM} -L ${FUSEKIT_TARGET_ROOT})
endif()
