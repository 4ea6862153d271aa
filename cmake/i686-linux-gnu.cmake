# Cross-builds modweld for 32-bit x86 Linux and, where qemu-user is installed, runs the
# built programs (tests included) under qemu-i386:
#
#   cmake -S . -B build-i686 --toolchain cmake/i686-linux-gnu.cmake
set(MODWELD_CROSS_TRIPLET i686-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MODWELD_QEMU_NAME qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-qemu.cmake)
