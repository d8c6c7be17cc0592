# The recipients confirmation: its window and the presenter that shows it
# for a waiting session.
target_sources(pelorus_desktop PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ConfirmationWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DesktopConfirmationPresenter.cpp
)
