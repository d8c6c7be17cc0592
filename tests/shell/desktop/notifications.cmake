# The desktop notification sink against a fake notification service on a
# private bus (dbus-daemon), the tray-icon fallback and the message boxes.
find_package(Qt6 REQUIRED COMPONENTS Test)
pelorus_add_test(notifier_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/NotifierTest.cpp
  LIBRARIES pelorus_desktop Qt6::Test)
set_target_properties(notifier_tests PROPERTIES AUTOMOC ON)
