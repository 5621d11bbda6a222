# Windows: names, texts and message ids need no port; the I/O tests need a
# linked COM pair (under Wine, scripts/test-windows.sh maps COM1 and COM2 to
# a linked pseudo-terminal pair).
target_sources(serial_tests PRIVATE port_names_win32_test.cpp result_text_win32_test.cpp)
target_sources(serial_thread_tests PRIVATE com_message_win32_test.cpp)

add_executable(serial_com_tests
  com_pair_win32.cpp
  serial_port_win32_test.cpp
  serial_wnd_win32_test.cpp
)
target_include_directories(serial_com_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(serial_com_tests PRIVATE serial GTest::gtest_main)
vexel_warnings(serial_com_tests)
# Without the modem-line shim Wine ends every event wait on a pty early and
# empty: the tests that need pending waits skip themselves, the rest check
# that arrivals are still reported. With the shim (cross-build only) all run.
gtest_discover_tests(serial_com_tests TEST_LIST serial_com_TESTS)
set(properties "LABELS \"serial;com\"")
if(CMAKE_CROSSCOMPILING)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/wine ${CMAKE_BINARY_DIR}/tests/wine)
  gtest_discover_tests(serial_com_tests TEST_PREFIX "modemlines." TEST_LIST serial_com_shim_TESTS)
  set(properties "${properties} ENVIRONMENT \"LD_PRELOAD=${VEXEL_WINE_MODEM_LINES};VEXEL_WINE_MODEM_LINES=1\"")
endif()
# Set after discovery: gtest_discover_tests would flatten these lists.
set(script "${CMAKE_CURRENT_BINARY_DIR}/serial_com_tests_properties.cmake")
file(WRITE "${script}"
  "if(serial_com_TESTS)\n"
  "  set_tests_properties(\${serial_com_TESTS} PROPERTIES LABELS \"serial;com\")\n"
  "endif()\n"
  "if(serial_com_shim_TESTS)\n"
  "  set_tests_properties(\${serial_com_shim_TESTS} PROPERTIES ${properties})\n"
  "endif()\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
