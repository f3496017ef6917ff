# Run at install time, from install.cmake: writes the manual page and the
# documentation pages as they are to be installed, into KESTRIVO_DOC_OUT.
#
# The sources name installed files under the default prefix, /usr/local (the
# examples in /usr/local/share/kestrivo/examples, the guide in
# /usr/local/share/doc/kestrivo); installed under another prefix, as the
# Debian package is under /usr, each such path is rewritten to the one under
# the prefix being installed to, so the pages never point at files that are
# not there.  The manual page and the changelog are compressed as Debian
# wants them: gzip -9n, best compression and no name or time in the header,
# so two builds of the same sources give the same package.
#
# In: KESTRIVO_SOURCE_DIR, KESTRIVO_DOC_OUT, KESTRIVO_DATAROOT (the share
# directory, relative to the prefix), KESTRIVO_PAGES (Markdown pages),
# KESTRIVO_MAN_PAGES, KESTRIVO_CHANGELOG; CMAKE_INSTALL_PREFIX as the install
# sets it.

set(share "${CMAKE_INSTALL_PREFIX}/${KESTRIVO_DATAROOT}/")
if(IS_ABSOLUTE "${KESTRIVO_DATAROOT}")
  set(share "${KESTRIVO_DATAROOT}/")
endif()
file(MAKE_DIRECTORY "${KESTRIVO_DOC_OUT}/doc" "${KESTRIVO_DOC_OUT}/man")

# prefixed(SOURCE OUT): OUT is SOURCE with the default share directory
# replaced by the one under the install prefix.
function(prefixed source out)
  file(READ "${source}" text)
  string(REPLACE "/usr/local/share/" "${share}" text "${text}")
  file(WRITE "${out}" "${text}")
endfunction()

# compressed(SOURCE OUT): OUT is SOURCE compressed with gzip -9n.
function(compressed source out)
  execute_process(COMMAND gzip -9n -c "${source}" OUTPUT_FILE "${out}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${source}: ${status}")
  endif()
endfunction()

foreach(page ${KESTRIVO_PAGES})
  get_filename_component(name "${page}" NAME)
  prefixed("${page}" "${KESTRIVO_DOC_OUT}/doc/${name}")
  if(name STREQUAL "README.md")
    # Installed, the README sits beside the pages it links to in docs/.
    file(READ "${KESTRIVO_DOC_OUT}/doc/${name}" text)
    string(REPLACE "](docs/" "](" text "${text}")
    file(WRITE "${KESTRIVO_DOC_OUT}/doc/${name}" "${text}")
  endif()
endforeach()
foreach(page ${KESTRIVO_MAN_PAGES})
  get_filename_component(name "${page}" NAME)
  prefixed("${page}" "${KESTRIVO_DOC_OUT}/man/${name}")
  compressed("${KESTRIVO_DOC_OUT}/man/${name}" "${KESTRIVO_DOC_OUT}/man/${name}.gz")
endforeach()
compressed("${KESTRIVO_CHANGELOG}" "${KESTRIVO_DOC_OUT}/doc/changelog.gz")
