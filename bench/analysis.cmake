# Message analysis: header parsing, Base64 as extraction decodes it, and
# judging a large spooled mail (extraction, protection checks, deletion).
add_executable(bench_message ${CMAKE_CURRENT_LIST_DIR}/message_bench.cpp)
target_link_libraries(bench_message PRIVATE pelorus_analysis benchmark::benchmark)
