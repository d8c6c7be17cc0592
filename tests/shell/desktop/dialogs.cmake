# The Filters and Properties dialogs and their tray commands, on Qt's
# offscreen platform. The read-only folder case has its own executable: it
# runs the dialog in a child process as an ordinary user, which must fork
# before any Qt thread exists.
find_package(Qt6 REQUIRED COMPONENTS Test)
pelorus_add_test(dialogs_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/DialogsTestMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FiltersDialogTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PropertiesDialogTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DialogCommandsTest.cpp
  LIBRARIES pelorus_desktop pelorus_relay_test_support Qt6::Test)
pelorus_add_test(dialogs_readonly_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/FiltersReadOnlyTest.cpp
  LIBRARIES pelorus_desktop Qt6::Test)
# The autostart file alone, without Qt's threads: its read-only case forks
# and runs as an ordinary user.
pelorus_add_test(autostart_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/SessionAutostartTest.cpp
  LIBRARIES pelorus_desktop pelorus_relay_test_support)
