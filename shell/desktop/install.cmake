# `make install`: the program, its help page, the menu entry, the
# application icon in the hicolor theme and the manual page.
include(GNUInstallDirs)

install(TARGETS pelorus RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/share/Pelorus.html
  DESTINATION ${CMAKE_INSTALL_DATADIR}/pelorus/html)
install(FILES ${PROJECT_SOURCE_DIR}/share/pelorus.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/icons/107.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
  RENAME pelorus.svg)
install(FILES ${PROJECT_SOURCE_DIR}/docs/pelorus.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
