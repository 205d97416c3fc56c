# Offscreen suites of the Qt window: the real controller over the scripted library.
if(NOT TARGET ovraid_app)
  return()
endif()
find_package(Qt6 COMPONENTS Test QUIET)
if(NOT Qt6Test_FOUND)
  message(STATUS "Qt6 Test not found: window suites skipped")
  return()
endif()

# Each suite has its own main, which makes the QApplication the widgets need.
function(ovraid_window_test name)
  add_executable(${name} ${ARGN} ${CMAKE_CURRENT_SOURCE_DIR}/support_app/app_main.cpp)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/support_app)
  target_link_libraries(${name} PRIVATE ovraid_app ovraid_test_support Qt6::Widgets Qt6::Test GTest::gtest)
  target_compile_definitions(${name} PRIVATE OVRAID_TS_DIR="${CMAKE_SOURCE_DIR}/app/translations")
  ovraid_add_test(${name} window 600)
endfunction()

ovraid_window_test(test_window_panel test_window_panel.cpp)
ovraid_window_test(test_window_selection test_window_selection.cpp)
ovraid_window_test(test_window_tree test_window_tree.cpp)
ovraid_window_test(test_window_actions test_window_actions.cpp)
ovraid_window_test(test_window_misc test_window_misc.cpp)
ovraid_window_test(test_window_words test_window_words.cpp)
# The window's program started as a user starts it, and its help and About box.
ovraid_window_test(test_window_program test_window_program.cpp)
target_compile_definitions(test_window_program PRIVATE OVRAID_PROGRAM="$<TARGET_FILE:ovraid>"
  OVRAID_SIM_TOOL="$<TARGET_FILE:ovraid-sim>")
add_dependencies(test_window_program ovraid ovraid-sim)

# The window's program left by each way out, in a process of its own.
add_executable(exit_app exit_app/exit_app.cpp)
target_link_libraries(exit_app PRIVATE ovraid_app)
add_executable(test_exit_paths test_exit_paths.cpp)
target_link_libraries(test_exit_paths PRIVATE ovraid_test_support GTest::gtest_main)
target_compile_definitions(test_exit_paths PRIVATE OVRAID_EXIT_APP="$<TARGET_FILE:exit_app>")
add_dependencies(test_exit_paths exit_app)
ovraid_add_test(test_exit_paths window 600)
