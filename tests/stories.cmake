# End-to-end stories: the real window (offscreen) with its notification thread against
# the simulated enclosure, driven like a user. They share the window suites' main, which
# makes the QApplication.
set(ovraid_stories_main ${CMAKE_CURRENT_SOURCE_DIR}/support_app/app_main.cpp)
if(TARGET ovraid_app AND EXISTS ${ovraid_stories_main})
  find_package(Qt6 COMPONENTS Test QUIET)
  if(Qt6Test_FOUND)
    add_executable(test_stories test_stories.cpp story_fixture.h ${ovraid_stories_main})
    target_link_libraries(test_stories PRIVATE ovraid_app ovraid_loader ovraid_test_support Qt6::Test GTest::gtest)
    # One story also runs through the simulator built as a loadable bridge library.
    # Another story runs the command line beside the window.
    target_compile_definitions(test_stories PRIVATE OVRAID_SIM_LIBRARY="$<TARGET_FILE:ovraid-sim-bridge>"
                               OVRAIDCTL="$<TARGET_FILE:ovraidctl>")
    add_dependencies(test_stories ovraid-sim-bridge ovraid-sim ovraidctl)
    ovraid_add_test(test_stories stories 900)
  else()
    message(STATUS "stories: Qt6 Test not found, test_stories not built")
  endif()
elseif(TARGET ovraid_app)
  message(WARNING "stories: ${ovraid_stories_main} is missing, test_stories not built")
endif()
