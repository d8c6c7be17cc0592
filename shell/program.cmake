target_sources(pelorus_shell PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CommandLine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Headless.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Program.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProxyService.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SettingsValidation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SingleInstance.cpp
)

add_executable(pelorus ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(pelorus PRIVATE pelorus_shell)
