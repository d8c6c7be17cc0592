# The Properties and Filters dialogs and the tray commands that open them,
# and the autostart file behind the Properties dialog's "Session" group.
target_sources(pelorus_desktop PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/DialogSupport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PropertiesDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SessionAutostart.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FiltersDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DialogCommands.cpp
)

# The autostart file is made from the menu entry at
# ../share/applications/pelorus.desktop beside the executable: the build
# tree gets the same layout, and the source copy is the last resort.
configure_file(${PROJECT_SOURCE_DIR}/share/pelorus.desktop
  ${PROJECT_BINARY_DIR}/share/applications/pelorus.desktop COPYONLY)
target_compile_definitions(pelorus_desktop PRIVATE
  PELORUS_SOURCE_MENU_ENTRY="${PROJECT_SOURCE_DIR}/share/pelorus.desktop")
