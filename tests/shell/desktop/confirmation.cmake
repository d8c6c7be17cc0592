# The confirmation window and its presenter, alone and between the real
# proxy, a real SMTP server and a real mail client.
find_package(Qt6 REQUIRED COMPONENTS Test)
pelorus_add_test(confirmation_window_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ConfirmationWindowTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ConfirmationPresenterTest.cpp
  LIBRARIES pelorus_desktop pelorus_relay_test_support Qt6::Test)
