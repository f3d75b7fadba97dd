# The Debian package: what `cmake --install` puts under the prefix, with /usr as the prefix, and the
# libraries it needs (Qt, libzip, libdeflate0, zlib, SQLite) found by dpkg-shlibdeps from the program
# itself. scripts/package runs it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kartoma)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "catalogue of a folder tree as a workbook or a CSV file")
# Lines of the description stay within the 80 columns Debian's tools show.
set(CPACK_PACKAGE_DESCRIPTION
    "Kartoma walks a folder tree (a removable medium, for example) and keeps one
line per file or folder: name, folder, size, date, time, volume label and type.
The list is delivered as a spreadsheet workbook (.xlsx) filled from a template,
or as a CSV file in the Japanese code page (CP932). A Japanese window and an
English command line run the same catalogue; saved catalogues can be searched.")
set(CPACK_PACKAGE_CONTACT "Kartoma maintainers <kartoma@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The opener that hands workbooks and CSV files to the desktop's applications, Qt's own Japanese
# texts for the standard dialogs, and a font that holds the window's Japanese texts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, qt6-translations-l10n, fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
