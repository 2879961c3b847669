# "cpack" in the build folder makes a Debian package of what "cmake --install"
# installs, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${SPIRELL_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "The Vortica Spirell developers")
set(CPACK_PACKAGE_CONTACT "The Vortica Spirell developers <developers@example.org>")
set(CPACK_PACKAGE_DESCRIPTION
    "Vortica Spirell paints a square image in which every pixel's colour comes\n"
    "from trigonometric expressions of its coordinates, with nineteen formulas\n"
    "to choose from. spirell-render paints any formula into a PNG file of any\n"
    "size, using all processor cores.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# dpkg-shlibdeps finds the shared libraries the programs link to. What they
# load at run time is named here: Qt's SVG icon engine draws the window's icon,
# and the maker's link opens the browser through xdg-open. The layout is made
# for DejaVu Sans wherever Verdana is missing.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")

# A Debian package also holds its copyright in Debian's format and a
# changelog, and its manual pages compressed (cmake/PackageDocs.cmake). The
# package is native: its changelog is changelog.gz.
execute_process(COMMAND date -u -R -d "${SPIRELL_RELEASE_DATE} 12:00"
    OUTPUT_VARIABLE SPIRELL_RELEASE_TIME OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
configure_file(${PROJECT_SOURCE_DIR}/docs/copyright.in ${PROJECT_BINARY_DIR}/package/copyright @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/docs/changelog.in ${PROJECT_BINARY_DIR}/package/changelog @ONLY)
set(CPACK_SPIRELL_COPYRIGHT ${PROJECT_BINARY_DIR}/package/copyright)
set(CPACK_SPIRELL_CHANGELOG ${PROJECT_BINARY_DIR}/package/changelog)
set(CPACK_SPIRELL_MANDIR ${CMAKE_INSTALL_MANDIR})
set(CPACK_SPIRELL_DOCDIR ${CMAKE_INSTALL_DOCDIR})
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PackageDocs.cmake)

include(CPack)
