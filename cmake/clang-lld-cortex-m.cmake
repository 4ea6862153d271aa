# Toolchain file for modules of a Cortex-M target system, built by clang and linked by
# ld.lld as shared objects that modweld can weld (-shared -z max-page-size=1), with
# arm-none-eabi-gcc's libgcc for the same core inside:
#
#   cmake -S <module project> -B <build> --toolchain <prefix>/lib/cmake/modweld/clang-lld-cortex-m.cmake
#
# A Cortex-M core runs Thumb code only, and ld.lld before 19 writes ARM-state PLT entries:
# the ld.lld taken is plain ld.lld on PATH when it is 19 or later, else the newest of the
# versioned ones (ld.lld-N on PATH, /usr/lib/llvm-N/bin/ld.lld); configuring stops when there
# is none. Cache variables: MODWELD_CLANG (clang; any version), MODWELD_LLD, and those of
# ModweldCortexM.cmake: MODWELD_CPU (default cortex-m3), MODWELD_FLOAT_ABI, MODWELD_FPU,
# MODWELD_ARM_GCC.
include("${CMAKE_CURRENT_LIST_DIR}/ModweldCortexM.cmake")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MODWELD_CLANG)

if(MODWELD_CPU MATCHES "^cortex-m(0|0plus|1)$")
  set(_modweld_arch thumbv6m)
elseif(MODWELD_CPU STREQUAL cortex-m3)
  set(_modweld_arch thumbv7m)
elseif(MODWELD_CPU MATCHES "^cortex-m(4|7)$")
  set(_modweld_arch thumbv7em)
elseif(MODWELD_CPU STREQUAL cortex-m23)
  set(_modweld_arch thumbv8m.base)
elseif(MODWELD_CPU MATCHES "^cortex-m(33|35p)$")
  set(_modweld_arch thumbv8m.main)
elseif(MODWELD_CPU MATCHES "^cortex-m(55|85)$")
  set(_modweld_arch thumbv8.1m.main)
else()
  message(FATAL_ERROR "clang-lld-cortex-m.cmake: MODWELD_CPU=${MODWELD_CPU} is not a Cortex-M core it knows")
endif()
set(CMAKE_C_COMPILER_TARGET ${_modweld_arch}-none-eabi)
set(CMAKE_CXX_COMPILER_TARGET ${_modweld_arch}-none-eabi)
set(CMAKE_ASM_COMPILER_TARGET ${_modweld_arch}-none-eabi)

# The LLVM tool NAME: NAME on PATH first, then NAME-N on PATH and /usr/lib/llvm-N/bin/NAME;
# of the names of one file, the first.
function(_modweld_llvm_candidates name variable)
  find_program(plain NAMES ${name} NO_CACHE)
  set(names)
  if(plain)
    set(names "${plain}")
  endif()
  file(TO_CMAKE_PATH "$ENV{PATH}" dirs)
  foreach(dir IN LISTS dirs)
    file(GLOB versioned "${dir}/${name}-[0-9]*")
    list(APPEND names ${versioned})
  endforeach()
  file(GLOB in_llvm "/usr/lib/llvm-[0-9]*/bin/${name}")
  list(APPEND names ${in_llvm})
  set(found)
  set(files)
  foreach(candidate IN LISTS names)
    file(REAL_PATH "${candidate}" file)
    list(FIND files "${file}" at)
    if(at LESS 0)
      list(APPEND files "${file}")
      list(APPEND found "${candidate}")
    endif()
  endforeach()
  set(${variable} ${found} PARENT_SCOPE)
endfunction()

if(NOT MODWELD_CLANG)
  _modweld_llvm_candidates(clang _modweld_clangs)
  list(POP_FRONT _modweld_clangs _modweld_clang)
  set(MODWELD_CLANG "${_modweld_clang}" CACHE FILEPATH "clang, the modules' compiler" FORCE)
  if(NOT MODWELD_CLANG)
    message(FATAL_ERROR "clang-lld-cortex-m.cmake: clang not found (Debian: apt-get install clang; "
                        "or name it with -DMODWELD_CLANG=<path>)")
  endif()
endif()
modweld_use_compilers("${MODWELD_CLANG}" clang clang++)

# The major version ld.lld reports (LLD 19.1.7), or nothing.
function(_modweld_lld_version lld variable)
  execute_process(COMMAND "${lld}" --version OUTPUT_VARIABLE out ERROR_QUIET RESULT_VARIABLE status)
  set(version)
  if(status EQUAL 0 AND out MATCHES "LLD ([0-9]+)\\.")
    set(version ${CMAKE_MATCH_1})
  endif()
  set(${variable} "${version}" PARENT_SCOPE)
endfunction()

# The ld.lld to link with: MODWELD_LLD when given, else plain ld.lld when it is 19 or later,
# else the newest versioned one that is.
function(_modweld_find_lld variable)
  if(MODWELD_LLD)
    find_program(named NAMES "${MODWELD_LLD}" NO_CACHE)
    set(candidates "${MODWELD_LLD}")
    if(named)
      set(candidates "${named}")
    endif()
  else()
    _modweld_llvm_candidates(ld.lld candidates)
    find_program(plain NAMES ld.lld NO_CACHE)
  endif()
  set(chosen)
  set(chosen_version 0)
  set(seen)
  foreach(candidate IN LISTS candidates)
    _modweld_lld_version("${candidate}" version)
    if(version GREATER_EQUAL 19)
      if(version GREATER chosen_version)
        set(chosen "${candidate}")
        set(chosen_version ${version})
      endif()
      if(candidate STREQUAL plain)
        break()
      endif()
    elseif(version)
      list(APPEND seen "ld.lld ${version} (${candidate})")
    else()
      list(APPEND seen "${candidate}, which is not ld.lld")
    endif()
  endforeach()
  if(NOT chosen)
    if(NOT seen)
      set(seen "no ld.lld")
    endif()
    list(JOIN seen ", " seen)
    message(FATAL_ERROR "clang-lld-cortex-m.cmake: a module for ${MODWELD_CPU} needs ld.lld 19 or later, "
                        "as older ones write ARM-state PLT entries, which a Cortex-M core cannot run; found "
                        "${seen}. Install lld-19 or later, or name one with -DMODWELD_LLD=<path>.")
  endif()
  set(${variable} "${chosen}" PARENT_SCOPE)
endfunction()

# libgcc built for the core's flags, as arm-none-eabi-gcc names it.
function(_modweld_find_libgcc variable)
  if(NOT MODWELD_ARM_GCC)
    message(FATAL_ERROR "arm-none-eabi-gcc not found: its libgcc is linked into every module, "
                        "whichever compiler made the objects (Debian: apt-get install gcc-arm-none-eabi; "
                        "or name it with -DMODWELD_ARM_GCC=<path>)")
  endif()
  execute_process(COMMAND "${MODWELD_ARM_GCC}" ${_modweld_core_flags} -print-libgcc-file-name
                  OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT EXISTS "${libgcc}")
    message(FATAL_ERROR "${MODWELD_ARM_GCC} ${_modweld_flags} -print-libgcc-file-name named no libgcc: '${libgcc}'")
  endif()
  set(${variable} "${libgcc}" PARENT_SCOPE)
endfunction()

macro(modweld_link_rules)
  _modweld_find_lld(_modweld_lld)
  set(MODWELD_LLD "${_modweld_lld}" CACHE FILEPATH "ld.lld 19 or later, the modules' linker" FORCE)
  _modweld_find_libgcc(_modweld_libgcc)
  modweld_shared_module_rules("-fuse-ld=lld \"--ld-path=${MODWELD_LLD}\"" "\"${_modweld_libgcc}\"")
endmacro()
