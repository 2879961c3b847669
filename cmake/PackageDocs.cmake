# Run by cpack after it has installed the files into its staging folder and
# before it packs them: what a Debian package holds beyond the install tree.
# The manual pages are compressed and the folder of documentation gets the
# copyright file and the changelog, compressed too. gzip -n keeps no name or
# time, so that the same sources give the same package.
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${CPACK_PACKAGING_INSTALL_PREFIX}")
file(GLOB pages "${root}/${CPACK_SPIRELL_MANDIR}/man1/*.1")
foreach(page ${pages})
    execute_process(COMMAND gzip -9 -n -f "${page}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
set(docs "${root}/${CPACK_SPIRELL_DOCDIR}")
file(COPY_FILE "${CPACK_SPIRELL_COPYRIGHT}" "${docs}/copyright")
file(COPY_FILE "${CPACK_SPIRELL_CHANGELOG}" "${docs}/changelog")
execute_process(COMMAND gzip -9 -n -f "${docs}/changelog" COMMAND_ERROR_IS_FATAL ANY)
