# The relay: what the owner check of each client connection costs.
add_executable(bench_socket_owner ${CMAKE_CURRENT_LIST_DIR}/owner_bench.cpp)
target_link_libraries(bench_socket_owner PRIVATE pelorus_relay benchmark::benchmark)
