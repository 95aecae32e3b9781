# Installation: the desktop program and the batch tool, the ellipsoid and
# parameter library, the manual, the manual page, a desktop entry and an icon.
#
#   cmake --install build --prefix /usr/local
#
# The programs find the library in ../share/pelmo beside their bin folder, so
# any prefix works, and an unpacked package too.
include(GNUInstallDirs)

install(TARGETS pelmo-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET pelmo)
  install(TARGETS pelmo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Ellipsoid (.ell) and seven-parameter (.7pr) files with their description
# and the sample points.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/ DESTINATION ${CMAKE_INSTALL_DATADIR}/pelmo)

# The manual (the program also carries it inside).
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pelmo/manual
        FILES_MATCHING PATTERN "*.html" PATTERN "*.png")

# The manual page of the batch tool, compressed as Debian keeps them.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/pelmo-cli.1.gz
                   COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/docs/pelmo-cli.1 > ${CMAKE_BINARY_DIR}/pelmo-cli.1.gz
                   DEPENDS ${CMAKE_SOURCE_DIR}/docs/pelmo-cli.1 VERBATIM)
add_custom_target(pelmo_manpage ALL DEPENDS ${CMAKE_BINARY_DIR}/pelmo-cli.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/pelmo-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Desktop integration.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/pelmo.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/pelmo.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)

# ---------------------------------------------------------------- Debian package
# `make package` (cpack -G DEB in build/): everything above under /usr, the
# dependencies computed from the binaries by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelmo)
set(CPACK_PACKAGE_VENDOR "Pelmo")
set(CPACK_PACKAGE_CONTACT "Pelmo maintainers <pelmo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "coordinate transformation for point files and shapefiles")
set(CPACK_PACKAGE_DESCRIPTION
    "Transforms ASCII coordinate files and ESRI shapefiles between Gauss-Krueger, UTM, Krovak\n\
and geographic coordinates through seven-parameter (Helmert) datum transformations.\n\
Desktop program (Qt 6) and batch tool pelmo-cli, with an ellipsoid and parameter library.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
if(TARGET pelmo)
  # Loaded at run time, so not seen by dpkg-shlibdeps: the window's platform
  # plugin and the toolkit's German texts.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
endif()
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
include(CPack)
