# Engine suites: record reading, configuration writes, rebuild and degrade, the monitors
# (scripted library), and whole stories on the simulated enclosure.
ovraid_test(test_chip_reading test_chip_reading.cpp)
ovraid_test(test_config_writes test_config_writes.cpp)
ovraid_test(test_rebuild test_rebuild.cpp)
ovraid_test(test_monitors test_monitors.cpp)
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/test_engine_stories.cpp)
  ovraid_test(test_engine_stories test_engine_stories.cpp)
endif()
ovraid_test(test_data_safety test_data_safety.cpp)
# The interrupted-rebuild table is long (about 10 minutes under the thread sanitizer): a
# test of its own, so it runs beside the rest.
set(interrupted data_safety.a_rebuild_cut_short_*)
set_property(TEST test_data_safety APPEND PROPERTY ENVIRONMENT GTEST_FILTER=-${interrupted})
set(OVRAID_TEST_PROGRAM test_data_safety)
ovraid_add_test(test_interrupted_rebuilds engine 1800 GTEST_FILTER=${interrupted})
unset(OVRAID_TEST_PROGRAM)
ovraid_test(test_panel test_panel.cpp)
