# Bridge libraries loaded at run time: broken ones built here, each wrong in one way, the
# example library and the simulator's.
foreach(fault MISSING VERSION TABLE LISTS)
  string(TOLOWER ${fault} name)
  add_library(broken_${name} SHARED EXCLUDE_FROM_ALL loader_libs/broken_bridge.c)
  target_compile_definitions(broken_${name} PRIVATE BROKEN_${fault})
  target_include_directories(broken_${name} PRIVATE ${PROJECT_SOURCE_DIR}/include)
  set_target_properties(broken_${name} PROPERTIES C_STANDARD 99 C_EXTENSIONS OFF)
endforeach()

ovraid_test(test_loader test_loader.cpp)
target_link_libraries(test_loader PRIVATE ovraid_loader ovraid_backend)
target_compile_definitions(test_loader PRIVATE
  OVRAID_BROKEN_MISSING="$<TARGET_FILE:broken_missing>"
  OVRAID_BROKEN_VERSION="$<TARGET_FILE:broken_version>"
  OVRAID_BROKEN_TABLE="$<TARGET_FILE:broken_table>"
  OVRAID_BROKEN_LISTS="$<TARGET_FILE:broken_lists>"
  OVRAID_EXAMPLE_LIBRARY="$<TARGET_FILE:ovraid-example>"
  OVRAID_SIM_LIBRARY="$<TARGET_FILE:ovraid-sim-bridge>")
# The simulation's firmware runs as ovraid-sim.
add_dependencies(test_loader broken_missing broken_version broken_table broken_lists ovraid-example ovraid-sim-bridge ovraid-sim)
