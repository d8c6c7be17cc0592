# The manual page against the program's own --help.
add_test(NAME ManualPage.DescribesEveryOptionAndRendersWithoutWarnings
  COMMAND ${PELORUS_TEST_WRAPPER} /bin/sh ${CMAKE_CURRENT_LIST_DIR}/manual_page_test.sh
          $<TARGET_FILE:pelorus> ${PROJECT_SOURCE_DIR}/docs/pelorus.1)
