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
ovraid_test(test_panel test_panel.cpp)
