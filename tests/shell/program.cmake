pelorus_add_test(program_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ProgramProcess.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ProgramTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DecisionsCommandTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SettingsValidationTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StartAndEndTest.cpp
  LIBRARIES pelorus_shell pelorus_relay_test_support)
target_compile_definitions(program_tests PRIVATE PELORUS_EXECUTABLE="$<TARGET_FILE:pelorus>")
add_dependencies(program_tests pelorus)
