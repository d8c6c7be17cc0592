# The desktop notification sink and the message boxes, and the watch that
# brings the held mails to the GUI thread.
target_sources(pelorus_desktop PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/DesktopNotifier.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HeldMailWatch.cpp
)
