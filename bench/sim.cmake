# The simulated rebuild copy against cp --sparse=always. Run by hand:
#   build/bench/bench_copy [DIR] [RUNS]
add_executable(bench_copy ${CMAKE_CURRENT_SOURCE_DIR}/bench_copy.cpp)
target_link_libraries(bench_copy PRIVATE ovraid_platform ovraid_core)
