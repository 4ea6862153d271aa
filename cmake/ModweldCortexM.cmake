# What modweld's two toolchain files for Cortex-M modules share: the core and its floating
# point as cache variables, the flags for them, and the rule that links a module as a shared
# object whose every section lies at an address equal to its file offset, with the compiler
# runtime for the same core inside.
#
#   MODWELD_CPU        the core (-mcpu), the target system's: cortex-m3 when not given
#   MODWELD_FLOAT_ABI  soft, softfp or hard (-mfloat-abi), as the target system passes floats;
#                      empty: the compiler's default, soft
#   MODWELD_FPU        the unit (-mfpu) for softfp or hard; empty: the core's own
#   MODWELD_ARM_GCC    arm-none-eabi-gcc: the GCC toolchain file's compiler, and whose libgcc
#                      the clang one links into the module
#
# They are read on a build directory's first configure, when CMake sets its compile flags
# from them: another core needs a fresh build directory (cmake --fresh).
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(MODWELD_CPU cortex-m3 CACHE STRING "The module's Cortex-M core (-mcpu): the target system's")
set(MODWELD_FLOAT_ABI "" CACHE STRING "How floats are passed (-mfloat-abi: soft, softfp, hard), as the target system does; empty: soft")
set_property(CACHE MODWELD_FLOAT_ABI PROPERTY STRINGS "" soft softfp hard)
set(MODWELD_FPU "" CACHE STRING "The floating-point unit (-mfpu) for softfp or hard; empty: the core's own")
find_program(MODWELD_ARM_GCC arm-none-eabi-gcc DOC "arm-none-eabi-gcc, whose libgcc goes into the module")

# A try_compile project reads this file again and gets these values, not the defaults.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MODWELD_CPU MODWELD_FLOAT_ABI MODWELD_FPU MODWELD_ARM_GCC)
# Compiler checks build a library: a bare-metal executable needs a start-up file.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

get_property(_modweld_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)

set(_modweld_core_flags -mcpu=${MODWELD_CPU} -mthumb)
if(MODWELD_FLOAT_ABI)
  list(APPEND _modweld_core_flags -mfloat-abi=${MODWELD_FLOAT_ABI})
endif()
if(MODWELD_FPU)
  list(APPEND _modweld_core_flags -mfpu=${MODWELD_FPU})
endif()
list(JOIN _modweld_core_flags " " _modweld_flags)
set(CMAKE_C_FLAGS_INIT "${_modweld_flags} -fPIC -ffreestanding")
# A module has no C++ runtime to throw with or to ask for types.
set(CMAKE_CXX_FLAGS_INIT "${_modweld_flags} -fPIC -ffreestanding -fno-exceptions -fno-rtti")
set(CMAKE_ASM_FLAGS_INIT "${_modweld_flags}")

# COMPILER for C and assembler, and for C++ the compiler beside it whose name has CXX_NAME in
# place of C_NAME (arm-none-eabi-g++ beside arm-none-eabi-gcc, clang++ beside clang), if any.
macro(modweld_use_compilers compiler c_name cxx_name)
  set(CMAKE_C_COMPILER "${compiler}")
  set(CMAKE_ASM_COMPILER "${compiler}")
  string(REGEX REPLACE "${c_name}([^/]*)$" "${cxx_name}\\1" _modweld_cxx "${compiler}")
  if(EXISTS "${_modweld_cxx}")
    set(CMAKE_CXX_COMPILER "${_modweld_cxx}")
  endif()
endmacro()

# How C and C++ modules are linked: through the compiler driver, which gets DRIVER_ARGS
# before the objects and RUNTIME after the libraries. The toolchain file's
# modweld_link_rules() calls it from ModweldCortexMRules.cmake, which CMake reads after its
# platform files, once the compilers are known: Generic knows no shared libraries, and
# that file allows them.
macro(modweld_shared_module_rules driver_args runtime)
  foreach(lang C CXX)
    set(CMAKE_${lang}_CREATE_SHARED_LIBRARY
        "<CMAKE_${lang}_COMPILER> <LANGUAGE_COMPILE_FLAGS> <LINK_FLAGS> -nostdlib -Wl,-shared -Wl,-z,max-page-size=1 ${driver_args} -o <TARGET> <OBJECTS> <LINK_LIBRARIES> ${runtime}")
  endforeach()
endmacro()
set(MODWELD_USER_MAKE_RULES_OVERRIDE "$CACHE{CMAKE_USER_MAKE_RULES_OVERRIDE}")
set(CMAKE_USER_MAKE_RULES_OVERRIDE "${CMAKE_CURRENT_LIST_DIR}/ModweldCortexMRules.cmake")
