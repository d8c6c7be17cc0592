# The tray application: its window, menus, commands and the wait for a tray
# (a fake StatusNotifierWatcher on a private bus), the real program on
# Qt's offscreen platform, and the menu entry.
find_package(Qt6 REQUIRED COMPONENTS Test)
pelorus_add_test(frame_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/FrameTestMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TrayTestSupport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TrayApplicationTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DesktopProgramTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DesktopProcess.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../ProgramProcess.cpp
  LIBRARIES pelorus_desktop pelorus_relay_test_support Qt6::Test)
set_target_properties(frame_tests PROPERTIES AUTOMOC ON)
target_include_directories(frame_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/..)
target_compile_definitions(frame_tests PRIVATE
  PELORUS_EXECUTABLE="$<TARGET_FILE:pelorus>"
  PELORUS_DESKTOP_FILE="${PROJECT_SOURCE_DIR}/share/pelorus.desktop")
add_dependencies(frame_tests pelorus)
