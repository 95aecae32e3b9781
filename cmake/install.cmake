# Installation: the desktop program and the batch tool, the ellipsoid and
# parameter library, the manual, a desktop entry and an icon.
#
#   cmake --install build --prefix /usr/local
include(GNUInstallDirs)

install(TARGETS pelmo-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET pelmo)
  install(TARGETS pelmo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Ellipsoid (.ell) and seven-parameter (.7pr) files with their description
# and the sample points.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/pelmo/data)

# The manual (the program also carries it inside).
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pelmo/manual
        FILES_MATCHING PATTERN "*.html" PATTERN "*.png")

# Desktop integration.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/pelmo.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/pelmo.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)

# The manual page of the batch tool.
install(FILES ${CMAKE_SOURCE_DIR}/docs/pelmo-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
