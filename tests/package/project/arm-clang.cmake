# Cross toolchain for the package test's module: clang for 32-bit ARM, and ld.lld
# (CMAKE_LINKER, given on the command line) linking shared objects whose section
# addresses equal their file offsets.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER_TARGET armv7a-none-eabi)
set(CMAKE_C_FLAGS_INIT "-ffreestanding")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_C_CREATE_SHARED_LIBRARY
    "<CMAKE_LINKER> -shared -z max-page-size=1 <LINK_FLAGS> -o <TARGET> <OBJECTS> <LINK_LIBRARIES>")
