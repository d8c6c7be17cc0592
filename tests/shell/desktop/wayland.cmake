# The desktop shell on a Wayland session without X: a headless weston per
# test process, the test process itself on Qt's wayland platform.
find_package(Qt6 REQUIRED COMPONENTS Test)
pelorus_add_test(wayland_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/WaylandTestMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WaylandTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WestonTestSupport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DesktopProcess.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TrayTestSupport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../ProgramProcess.cpp
  LIBRARIES pelorus_desktop pelorus_relay_test_support Qt6::Test)
set_target_properties(wayland_tests PROPERTIES AUTOMOC ON)
target_include_directories(wayland_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/..)
target_compile_definitions(wayland_tests PRIVATE PELORUS_EXECUTABLE="$<TARGET_FILE:pelorus>")
add_dependencies(wayland_tests pelorus)
