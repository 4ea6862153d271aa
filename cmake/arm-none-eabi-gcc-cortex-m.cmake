# Toolchain file for modules of a Cortex-M target system, built by arm-none-eabi-gcc and
# linked by GNU ld as shared objects that modweld can weld (-shared -z max-page-size=1),
# libgcc for the same core inside:
#
#   cmake -S <module project> -B <build> --toolchain <prefix>/lib/cmake/modweld/arm-none-eabi-gcc-cortex-m.cmake
#
# Cache variables (see ModweldCortexM.cmake): MODWELD_CPU (default cortex-m3),
# MODWELD_FLOAT_ABI, MODWELD_FPU, MODWELD_ARM_GCC.
include("${CMAKE_CURRENT_LIST_DIR}/ModweldCortexM.cmake")

if(NOT MODWELD_ARM_GCC)
  message(FATAL_ERROR "arm-none-eabi-gcc not found (Debian: apt-get install gcc-arm-none-eabi; "
                      "or name it with -DMODWELD_ARM_GCC=<path>)")
endif()
modweld_use_compilers("${MODWELD_ARM_GCC}" gcc g++)

# The driver picks the libgcc of the core's flags, which the link line repeats.
macro(modweld_link_rules)
  modweld_shared_module_rules("" -lgcc)
endmacro()
