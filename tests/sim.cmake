# The simulated enclosure: its directory tree, the IDENTIFY data of its disks, the
# firmware and registry behind the library seam, and the ovraid-sim command.
find_program(OVRAID_HDPARM hdparm PATHS /usr/sbin /sbin)

ovraid_test(test_sim_store test_sim_store.cpp)
ovraid_test(test_sim_identify test_sim_identify.cpp)
if(OVRAID_HDPARM)
  target_compile_definitions(test_sim_identify PRIVATE OVRAID_HDPARM="${OVRAID_HDPARM}")
endif()
ovraid_test(test_sim_enclosure test_sim_enclosure.cpp)
ovraid_test(test_sim_rebuild test_sim_rebuild.cpp)
ovraid_test(test_sim_tool test_sim_tool.cpp)
target_compile_definitions(test_sim_tool PRIVATE OVRAID_SIM_TOOL="$<TARGET_FILE:ovraid-sim>"
  OVRAID_CTL="$<TARGET_FILE:ovraidctl>")
add_dependencies(test_sim_tool ovraid-sim ovraidctl)
