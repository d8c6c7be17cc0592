# The Properties and Filters dialogs and the tray commands that open them.
target_sources(pelorus_desktop PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/DialogSupport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PropertiesDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FiltersDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DialogCommands.cpp
)
