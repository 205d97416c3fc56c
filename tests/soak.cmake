# The hot-plug soak (bench/soak.cpp), built with the tests because the sanitizer builds leave
# the benchmarks out, and a short run of it as a test: a fixed seed, a few hundred events.
if(NOT TARGET ovraid-soak)
  add_executable(ovraid-soak ${CMAKE_SOURCE_DIR}/bench/soak.cpp)
  target_link_libraries(ovraid-soak PRIVATE ovraidctl_lib)
  target_compile_definitions(ovraid-soak PRIVATE OVRAID_SIM_TOOL="$<TARGET_FILE:ovraid-sim>")
  set_target_properties(ovraid-soak PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  add_dependencies(ovraid-soak ovraid-sim)
endif()

# The suites' environment (ovraid_add_test), but with arguments and a faster clock.
add_test(NAME soak_short COMMAND ovraid-soak --seed 14 --events 250)
set(soak_environment OVRAID_TIME_SCALE=100
    "TSAN_OPTIONS=halt_on_error=1 second_deadlock_stack=1 suppressions=${CMAKE_SOURCE_DIR}/tests/tsan.supp")
set_tests_properties(soak_short PROPERTIES LABELS soak TIMEOUT 300 ENVIRONMENT "${soak_environment}")
