# The terminal front end: the confirmation asked at a terminal prompt and
# the notices printed beside it.
target_sources(pelorus_shell PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/TerminalPresenter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TerminalText.cpp
)
