# What `make install` lays out under the prefix, and the Debian package of the
# same files (`make package`, CPack's DEB generator).
#
# The documentation files are found by glob, so the rules hold whether or not
# a man page or guide exists yet; tools/check-install.sh derives the expected
# file list from the source tree the same way.
include(GNUInstallDirs)

install(TARGETS kestrivo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

file(GLOB KESTRIVO_MAN_PAGES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/docs/*.1)
install(FILES ${KESTRIVO_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

file(GLOB KESTRIVO_GUIDES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/docs/*.md)
install(FILES README.md ${KESTRIVO_GUIDES} DESTINATION ${CMAKE_INSTALL_DOCDIR})

install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrivo/examples)

# Vim reads syntax/ and ftdetect/ from every directory on its runtime path;
# Debian's Vim has /usr/share/vim/vimfiles there.
install(DIRECTORY editors/vim/syntax editors/vim/ftdetect
        DESTINATION ${CMAKE_INSTALL_DATADIR}/vim/vimfiles)
# The VS Code extension folder, ready to copy into ~/.vscode/extensions.
install(DIRECTORY editors/vscode/ DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrivo/editors/vscode)

set(KESTRIVO_MAINTAINER "kestrivo maintainers <maintainers@kestrivo.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrivo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTRIVO_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION interpreters)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "${PROJECT_DESCRIPTION}
kestrivo reads a program of ;-ended statements and, for each expression,
prints the term as read, the term with its definitions expanded, its normal
form (normal-order graph reduction, call by need) and how many nodes the
reduction built. The package holds the interpreter, its manual page, example
programs and syntax files for Vim and VS Code.")
# Depends is computed from the binary's shared libraries by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
