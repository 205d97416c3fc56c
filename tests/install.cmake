# The build installed into a temporary DESTDIR and run from there (tests/install_test.sh).
set(OVRAID_TEST_PROGRAM ${CMAKE_CURRENT_SOURCE_DIR}/install_test.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR}
    ${PROJECT_VERSION} ${OVRAID_APP_ID} $<BOOL:$<TARGET_EXISTS:ovraid>>)
ovraid_add_test(test_install install 300)
unset(OVRAID_TEST_PROGRAM)
