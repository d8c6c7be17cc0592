# The desktop notification sink and the message boxes.
target_sources(pelorus_desktop PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/DesktopNotifier.cpp
)
