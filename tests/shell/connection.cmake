# The SMTP server connection test against scripted servers, and the check
# made before it.
pelorus_add_test(connection_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ConnectionTestTest.cpp
  LIBRARIES pelorus_shell pelorus_relay_test_support)
