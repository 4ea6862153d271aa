# Cross-builds modweld for 64-bit Windows with MinGW-w64 and, where Wine is installed,
# runs the built programs (tests included) through it:
#
#   cmake -S . -B build-mingw --toolchain cmake/mingw-w64-x86_64.cmake
#
# MODWELD_MINGW_TRIPLET picks another MinGW-w64 target prefix.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

if(NOT MODWELD_MINGW_TRIPLET)
  set(MODWELD_MINGW_TRIPLET x86_64-w64-mingw32)
endif()

# The -posix flavour first: GoogleTest needs std::mutex and friends, which the -win32
# thread model lacks.
find_program(CMAKE_C_COMPILER NAMES ${MODWELD_MINGW_TRIPLET}-gcc-posix ${MODWELD_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${MODWELD_MINGW_TRIPLET}-g++-posix ${MODWELD_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${MODWELD_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MODWELD_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: no libstdc++, libgcc or winpthread DLL has to travel with it.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# wine64 runs 64-bit programs without asking for the 32-bit half of Wine.
find_program(MODWELD_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(MODWELD_WINE AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MODWELD_WINE})
endif()
