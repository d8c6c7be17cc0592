# The connectivity watcher: decisions on given interface lists, the notice
# rules, stopping, and one run against real address changes in a private
# network namespace.
pelorus_add_test(watcher_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/WatcherTest.cpp
  LIBRARIES pelorus_shell)
