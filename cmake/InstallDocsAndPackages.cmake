# Install rules and packages: the modweld(1) manual page, README and LICENSE in their usual
# places (the binary and the CMake package come from InstallCMakePackage.cmake); `cpack -G DEB`
# for Linux, `cpack -G ZIP` for a Windows build.
include(GNUInstallDirs)

set(MODWELD_MAN_PAGE ${PROJECT_BINARY_DIR}/doc/modweld.1)
# Its DIAGNOSTICS come from README's Messages table; a change there configures the page anew.
include(${CMAKE_CURRENT_LIST_DIR}/ManPageDiagnostics.cmake)
modweld_diagnostics_from_readme(${PROJECT_SOURCE_DIR}/README.md MODWELD_DIAGNOSTICS)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)
configure_file(${PROJECT_SOURCE_DIR}/doc/modweld.1.in ${MODWELD_MAN_PAGE} @ONLY)

if(WIN32)
  # No manual pages there: the documents sit at the top of the tree, beside bin.
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
else()
  # Compressed, as man finds it and as Debian packages carry it.
  find_program(MODWELD_GZIP gzip)
  if(MODWELD_GZIP)
    add_custom_command(OUTPUT ${MODWELD_MAN_PAGE}.gz
                       COMMAND ${MODWELD_GZIP} -9 -n -k -f ${MODWELD_MAN_PAGE}
                       DEPENDS ${MODWELD_MAN_PAGE}
                       COMMENT "Compressing the manual page")
    add_custom_target(modweld_man_page ALL DEPENDS ${MODWELD_MAN_PAGE}.gz)
    install(FILES ${MODWELD_MAN_PAGE}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    install(FILES ${MODWELD_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME modweld)
set(CPACK_PACKAGE_VENDOR "modweld developers")
set(CPACK_PACKAGE_CONTACT "modweld developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "post-link tool that fills the jump slots of target system modules")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "modweld reads a module linked as a 32-bit ARM shared object together with the\n"
  "target system's ELF image, writes the address of every target function that the\n"
  "module calls into its jump slot, stamps the module magic and writes the module\n"
  "image that the target system loads.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "modweld developers")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
find_program(MODWELD_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(MODWELD_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
