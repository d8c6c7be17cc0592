# The connectivity watcher: the interface list and the thread that reports
# when the machine goes on or off line.
target_sources(pelorus_shell PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/NetworkInterfaces.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IPAddressChangeNotifier.cpp
)
