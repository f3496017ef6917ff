# What `make install` lays out under the prefix, and the Debian package of the
# same files (`make package`, CPack's DEB generator).
#
# The documentation files are found by glob, so the rules hold whether or not
# a man page or guide exists yet; tools/check-install.sh derives the expected
# file list from the source tree the same way.
include(GNUInstallDirs)

install(TARGETS kestrivo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The language server is not built for the playground's WebAssembly.
if(TARGET kestrivo-lsp)
  install(TARGETS kestrivo-lsp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

file(GLOB KESTRIVO_MAN_PAGES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/docs/*.1)
file(GLOB KESTRIVO_GUIDES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/docs/*.md)
set(KESTRIVO_PAGES ${CMAKE_CURRENT_SOURCE_DIR}/README.md ${KESTRIVO_GUIDES})
# The pages as installed: the paths they name follow the install prefix, the
# manual page and the changelog are compressed (cmake/prefixdocs.cmake).  They
# are written at install time, when the prefix is known, and installed from
# there by the rules after this one.
set(KESTRIVO_DOC_OUT ${CMAKE_CURRENT_BINARY_DIR}/installed-docs)
set(KESTRIVO_CHANGELOG ${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian/changelog)
install(CODE "
  set(KESTRIVO_DOC_OUT \"${KESTRIVO_DOC_OUT}\")
  set(KESTRIVO_DATAROOT \"${CMAKE_INSTALL_DATAROOTDIR}\")
  set(KESTRIVO_PAGES \"${KESTRIVO_PAGES}\")
  set(KESTRIVO_MAN_PAGES \"${KESTRIVO_MAN_PAGES}\")
  set(KESTRIVO_CHANGELOG \"${KESTRIVO_CHANGELOG}\")
  include(\"${CMAKE_CURRENT_SOURCE_DIR}/cmake/prefixdocs.cmake\")")
foreach(page ${KESTRIVO_MAN_PAGES})
  get_filename_component(name ${page} NAME)
  install(FILES ${KESTRIVO_DOC_OUT}/man/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
foreach(page ${KESTRIVO_PAGES})
  get_filename_component(name ${page} NAME)
  install(FILES ${KESTRIVO_DOC_OUT}/doc/${name} DESTINATION ${CMAKE_INSTALL_DOCDIR})
endforeach()
# The pictures the pages show, where their links find them (images/ beside
# the pages; the README's docs/images/ becomes images/ when installed).
install(DIRECTORY docs/images/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/images)
# Where a Debian system looks for a package's licence and its history.
install(FILES ${KESTRIVO_DOC_OUT}/doc/changelog.gz cmake/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrivo/examples)

# Vim reads syntax/ and ftdetect/ from every directory on its runtime path;
# Debian's Vim has /usr/share/vim/vimfiles there.
install(DIRECTORY editors/vim/syntax editors/vim/ftdetect
        DESTINATION ${CMAKE_INSTALL_DATADIR}/vim/vimfiles)
# The VS Code extension folder, ready to copy into ~/.vscode/extensions (its
# client library comes with `npm ci` there, never from the source tree).
install(DIRECTORY editors/vscode/ DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrivo/editors/vscode
        PATTERN node_modules EXCLUDE)

# The Jupyter kernel's spec, where Jupyter looks for kernels under the prefix
# (PREFIX/share/jupyter/kernels), with the kernel's module beside it: the
# launcher finds the module, and the interpreter in PREFIX/bin, from where it
# lies, so nothing in kernel.json depends on the prefix.  The kernel runs on
# KESTRIVO_JUPYTER_PYTHON.
configure_file(jupyter/kernel.json.in ${CMAKE_CURRENT_BINARY_DIR}/jupyter/kernel.json @ONLY)
set(KESTRIVO_KERNEL_DIR ${CMAKE_INSTALL_DATADIR}/jupyter/kernels/kestrivo)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/jupyter/kernel.json jupyter/launch.py DESTINATION ${KESTRIVO_KERNEL_DIR})
install(DIRECTORY jupyter/kestrivo_kernel DESTINATION ${KESTRIVO_KERNEL_DIR}
        FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)

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
# The synopsis is the summary above; the description that follows it must not
# repeat it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "kestrivo reads a program of ;-ended statements and, for each expression,
prints the term as read, the term with its definitions expanded, its normal
form (normal-order graph reduction, call by need) and how many nodes the
reduction built. The package holds the interpreter, its manual page, example
programs, syntax files for Vim and VS Code, a language server for editors and
a kernel for Jupyter.")
# Depends is computed from the binary's shared libraries by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the parts beyond the interpreter run on, offered but not required: the
# Jupyter kernel on Debian's Python with ipykernel, its pictures and those of
# --dot on Graphviz, the graphs of a --latex document on dot2tex, the
# document itself on pdflatex with TikZ.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS
    "python3-ipykernel, graphviz, dot2tex, texlive-latex-base, texlive-pictures")
include(CPack)
