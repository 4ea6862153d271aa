# Installs the modweld executable with a CMake package, so that a module's build can say
# find_package(modweld) and use modweld_add_module_image().
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(MODWELD_PACKAGE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/modweld"
    CACHE STRING "Where the modweld CMake package is installed, relative to the prefix")

install(TARGETS modweld EXPORT modweldTargets RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(EXPORT modweldTargets NAMESPACE modweld:: DESTINATION "${MODWELD_PACKAGE_DIR}")

# Modules are built for the target, usually by a cross toolchain whose pointer size is not
# the host's: the package provides a host tool and must not be rejected for that.
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/modweldConfigVersion.cmake"
                                 COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES "${CMAKE_CURRENT_LIST_DIR}/modweldConfig.cmake"
              "${CMAKE_CURRENT_LIST_DIR}/ModweldModuleImage.cmake"
              "${CMAKE_CURRENT_BINARY_DIR}/modweldConfigVersion.cmake"
        DESTINATION "${MODWELD_PACKAGE_DIR}")
# The toolchain files for Cortex-M modules, where a module's build finds them beside the package.
install(FILES "${CMAKE_CURRENT_LIST_DIR}/arm-none-eabi-gcc-cortex-m.cmake"
              "${CMAKE_CURRENT_LIST_DIR}/clang-lld-cortex-m.cmake"
              "${CMAKE_CURRENT_LIST_DIR}/ModweldCortexM.cmake"
              "${CMAKE_CURRENT_LIST_DIR}/ModweldCortexMRules.cmake"
        DESTINATION "${MODWELD_PACKAGE_DIR}")
