# Cross-builds modweld for 64-bit big-endian Linux (IBM Z) and, where qemu-user is
# installed, runs the built programs (tests included) under qemu-s390x:
#
#   cmake -S . -B build-s390x --toolchain cmake/s390x-linux-gnu.cmake
set(MODWELD_CROSS_TRIPLET s390x-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(MODWELD_QEMU_NAME qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-qemu.cmake)
