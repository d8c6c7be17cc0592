# One file of targets per area, so each can grow on its own.
include(${CMAKE_CURRENT_LIST_DIR}/protection.cmake OPTIONAL)
include(${CMAKE_CURRENT_LIST_DIR}/message.cmake OPTIONAL)
include(${CMAKE_CURRENT_LIST_DIR}/relay.cmake OPTIONAL)
