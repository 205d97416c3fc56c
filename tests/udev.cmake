# The udev device registry over umockdev's mock sysfs and uevents, no root needed. The
# preload redirects the test's sysfs and netlink to the testbed. In the address sanitizer
# build it stands before the sanitizer's runtime in the library list; it replaces no
# allocator, so the runtime's check of that order is turned off. The thread sanitizer
# build runs it as it is.
if(TARGET ovraid_udev)
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(UMOCKDEV QUIET IMPORTED_TARGET umockdev-1.0)
  endif()
  find_library(OVRAID_UMOCKDEV_PRELOAD NAMES libumockdev-preload.so.0 libumockdev-preload.so)
  if(UMOCKDEV_FOUND AND OVRAID_UMOCKDEV_PRELOAD)
    add_executable(test_udev_registry test_udev_registry.cpp)
    target_link_libraries(test_udev_registry PRIVATE ovraid_udev ovraid_test_support ovraid_platform ovraid_core
                          PkgConfig::UMOCKDEV GTest::gtest_main)
    target_compile_definitions(test_udev_registry PRIVATE OVRAID_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
    ovraid_add_test(test_udev_registry udev 120 LD_PRELOAD=${OVRAID_UMOCKDEV_PRELOAD}
                    ASAN_OPTIONS=verify_asan_link_order=0)
  else()
    message(STATUS "umockdev not found: test_udev_registry is not built")
  endif()
endif()
