# ovraidctl run as a program against simulated enclosures: its reports, its JSON against
# the published schema, its exit statuses.
find_package(Python3 COMPONENTS Interpreter REQUIRED)

# A suite that runs the built programs. It knows them as OVRAID_CTL and OVRAID_SIM_TOOL,
# and checks JSON with OVRAID_PYTHON OVRAID_JSON_CHECK OVRAID_STATUS_SCHEMA FILE.
function(ovraid_cli_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE ovraid_test_support ovraid_platform ovraid_core GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    OVRAID_CTL="$<TARGET_FILE:ovraidctl>"
    OVRAID_SIM_TOOL="$<TARGET_FILE:ovraid-sim>"
    OVRAID_PYTHON="${Python3_EXECUTABLE}"
    OVRAID_JSON_CHECK="${CMAKE_CURRENT_SOURCE_DIR}/check_json_schema.py"
    OVRAID_STATUS_SCHEMA="${CMAKE_SOURCE_DIR}/docs/ovraidctl-status.schema.json")
  add_dependencies(${name} ovraidctl ovraid-sim)
  ovraid_add_test(${name} cli 300)
endfunction()

ovraid_cli_test(test_cli test_cli.cpp)

ovraid_cli_test(test_cli_monitor test_cli_monitor.cpp)
target_link_libraries(test_cli_monitor PRIVATE ovraidctl_lib)
target_compile_definitions(test_cli_monitor PRIVATE
  OVRAID_MONITOR_SCHEMA="${CMAKE_SOURCE_DIR}/docs/ovraidctl-monitor.schema.json")
ovraid_cli_test(test_cli_commands test_cli_commands.cpp)
