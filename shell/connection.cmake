# The SMTP server connection test of the Properties dialog, toolkit-free so
# it can be tested without a display.
target_sources(pelorus_shell PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ConnectionTest.cpp
)
