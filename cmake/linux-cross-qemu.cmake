# The part of the Linux cross toolchain files that is the same for every host: the
# Debian cross compilers g++-<triplet>, their sysroot /usr/<triplet>, and qemu-user as
# CMake's emulator, so that test discovery, CTest and the tests' own runs of the tool run
# the programs through it. Set MODWELD_CROSS_TRIPLET, CMAKE_SYSTEM_PROCESSOR and
# MODWELD_QEMU_NAME before including it.
set(CMAKE_SYSTEM_NAME Linux)

find_program(CMAKE_C_COMPILER NAMES ${MODWELD_CROSS_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${MODWELD_CROSS_TRIPLET}-g++ REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${MODWELD_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program is linked statically, as the tool is anyway: the sysroot's dynamic loader,
# run by qemu with -L, reads the host's /etc/ld.so.cache, and where that names the host's own
# 32-bit libraries (libc6-i386) it loads them beside the sysroot's loader, whose glibc they do
# not match: the child of every fork then hung.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# qemu-user runs the programs itself, not through binfmt_misc, which a container need not have.
find_program(MODWELD_QEMU NAMES ${MODWELD_QEMU_NAME} ${MODWELD_QEMU_NAME}-static)
if(MODWELD_QEMU AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MODWELD_QEMU})
endif()
