# Hot-plug handling, the device outline and the storm of concurrent device events.
ovraid_test(test_tree test_tree.cpp)
ovraid_test(test_hotplug test_hotplug.cpp)
ovraid_test(test_storm test_storm.cpp)
