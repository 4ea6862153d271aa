# Read after CMake's platform files by modweld's Cortex-M toolchain files, once for each
# language: Generic says that shared libraries are not supported, but a module is one; and
# the toolchain file's rule for linking one, whose tools it checks. A rules file the user
# named in CMAKE_USER_MAKE_RULES_OVERRIDE is read from here.
set_property(GLOBAL PROPERTY TARGET_SUPPORTS_SHARED_LIBS TRUE)
# A try_compile builds a library and links no module.
if(NOT _modweld_in_try_compile AND NOT _modweld_link_rules_set)
  # CMake sets a build directory's compile flags on its first configure only.
  if(DEFINED CACHE{MODWELD_CONFIGURED_FLAGS} AND NOT "$CACHE{MODWELD_CONFIGURED_FLAGS}" STREQUAL _modweld_flags)
    message(FATAL_ERROR "This build directory was configured for ${MODWELD_CONFIGURED_FLAGS}, now for "
                        "${_modweld_flags}, but it keeps the compile flags of its first configure: configure "
                        "it anew (the first configure's command with --fresh) or use another build directory.")
  endif()
  set(MODWELD_CONFIGURED_FLAGS "${_modweld_flags}" CACHE INTERNAL "The core's flags of the first configure")
  modweld_link_rules()
  set(_modweld_link_rules_set TRUE)
endif()
if(MODWELD_USER_MAKE_RULES_OVERRIDE)
  include("${MODWELD_USER_MAKE_RULES_OVERRIDE}")
endif()
