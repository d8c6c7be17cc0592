# The terminal front end: the prompt and the undo of held mails driven
# through a pseudo-terminal, and what is printed without one.
pelorus_add_test(terminal_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/TerminalChild.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TerminalPresenterTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TerminalUndoTest.cpp
  LIBRARIES pelorus_shell)
