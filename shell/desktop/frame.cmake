# The frame of the desktop shell: the main window with its tray icon and
# menus, the Version dialog, and the desktop front end that starts and stops
# the program around the Qt loop.
target_sources(pelorus_desktop PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/DesktopMain.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DisplayChoice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TrayApplication.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VersionDialog.cpp
)

# Help finds the page at ../share/pelorus/html beside the executable: the
# build tree gets the same layout (build/shell/pelorus finds
# build/share/pelorus/html/Pelorus.html), and the source copy is the last
# resort.
configure_file(${PROJECT_SOURCE_DIR}/share/Pelorus.html
  ${PROJECT_BINARY_DIR}/share/pelorus/html/Pelorus.html COPYONLY)
target_compile_definitions(pelorus_desktop PRIVATE
  PELORUS_SOURCE_HELP_PAGE="${PROJECT_SOURCE_DIR}/share/Pelorus.html")

include(${CMAKE_CURRENT_LIST_DIR}/install.cmake)

# The README's pictures: each window with sample content. Run by make
# screenshots; built with everything else so that it keeps compiling.
add_executable(pelorus_screenshots ${CMAKE_CURRENT_LIST_DIR}/ScreenshotTool.cpp)
target_link_libraries(pelorus_screenshots PRIVATE pelorus_desktop)
