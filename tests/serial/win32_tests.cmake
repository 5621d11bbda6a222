# Windows: names, texts and message ids need no port; the I/O tests need a
# linked COM pair, a line that hangs up on request and the simulator's line
# (under Wine, scripts/test-windows.sh maps them to pseudo-terminals).
target_sources(serial_tests PRIVATE port_names_win32_test.cpp result_text_win32_test.cpp)
target_sources(serial_thread_tests PRIVATE com_message_win32_test.cpp)

if(CMAKE_CROSSCOMPILING)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/wine ${CMAKE_BINARY_DIR}/tests/wine)
endif()

# Each test of @p target runs plainly and, in the cross-build, once more with
# the modem-line shim. Without it Wine ends every event wait on a pty early
# and empty: the tests that need pending waits skip themselves, the rest
# check that arrivals are still reported. With the shim all run.
function(vexel_com_tests target)
  vexel_warnings(${target})
  gtest_discover_tests(${target} TEST_LIST ${target}_plain)
  set(properties "LABELS \"serial;com\"")
  if(CMAKE_CROSSCOMPILING)
    gtest_discover_tests(${target} TEST_PREFIX "modemlines." TEST_LIST ${target}_shim)
    set(properties "${properties} ENVIRONMENT \"LD_PRELOAD=${VEXEL_WINE_MODEM_LINES};VEXEL_WINE_MODEM_LINES=1\"")
  endif()
  # Set after discovery: gtest_discover_tests would flatten these lists.
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_properties.cmake")
  file(WRITE "${script}"
    "if(${target}_plain)\n"
    "  set_tests_properties(\${${target}_plain} PROPERTIES LABELS \"serial;com\")\n"
    "endif()\n"
    "if(${target}_shim)\n"
    "  set_tests_properties(\${${target}_shim} PROPERTIES ${properties})\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()

add_executable(serial_com_tests
  com_pair_win32.cpp
  serial_port_win32_test.cpp
  serial_wnd_win32_test.cpp
  line_lost_win32_test.cpp
)
target_include_directories(serial_com_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(serial_com_tests PRIVATE serial GTest::gtest_main)
vexel_com_tests(serial_com_tests)

# The controller's whole exchange against the simulator's line.
if(TARGET protocol)
  add_executable(serial_controller_com_tests controller_over_com_win32_test.cpp)
  target_include_directories(serial_controller_com_tests PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests/sim)
  target_link_libraries(serial_controller_com_tests PRIVATE serial protocol GTest::gtest_main)
  vexel_com_tests(serial_controller_com_tests)
endif()
