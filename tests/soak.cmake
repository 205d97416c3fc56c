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

# How it ends besides: a wrong command line is a usage error (64), no events leave nothing to
# compare (0), and SIGTERM mid-run removes its directory and ends by that signal (143).
foreach(row "usage_word|64|--seed abc" "usage_range|64|--seed 99999999999999999999999" "usage_unknown|64|--bogus"
        "no_events|0|--events 0")
  string(REPLACE "|" ";" row "${row}")
  list(GET row 0 name)
  list(GET row 1 status)
  list(GET row 2 args)
  add_test(NAME soak_${name} COMMAND sh -c "\"$0\" ${args}; test $? -eq ${status}" $<TARGET_FILE:ovraid-soak>)
endforeach()
add_test(NAME soak_signal COMMAND sh -c [[
  out=$(mktemp); "$0" --events 1000000 >"$out" 2>&1 & p=$!
  for i in $(seq 300); do grep -q '^simulation in' "$out" && break; sleep 0.1; done
  sleep 1; kill -TERM $p; wait $p; rc=$?; d=$(sed -n 's/^simulation in //p' "$out"); cat "$out"; rm -f "$out"
  test $rc -eq 143 && test -n "$d" && ! test -e "$d"]] $<TARGET_FILE:ovraid-soak>)
set_tests_properties(soak_usage_word soak_usage_range soak_usage_unknown soak_no_events soak_signal
                     PROPERTIES LABELS soak TIMEOUT 120 ENVIRONMENT "${soak_environment}")
