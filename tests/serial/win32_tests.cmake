# Windows: names, texts and message ids need no port; the I/O tests need a
# linked COM pair, a line that hangs up on request and the simulator's line
# (under Wine, scripts/test-windows.sh maps them to pseudo-terminals).
target_sources(serial_tests PRIVATE port_names_win32_test.cpp result_text_win32_test.cpp)
target_link_libraries(serial_tests PRIVATE winsupport)
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
  line_lost_codes_win32_test.cpp
)
# The lost-line codes test reaches the port's table of Win32 calls.
target_include_directories(serial_com_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}
  ${PROJECT_SOURCE_DIR}/serial/src)
target_link_libraries(serial_com_tests PRIVATE serial GTest::gtest_main)
vexel_com_tests(serial_com_tests)

# The controller's whole exchange against the simulator's line.
if(TARGET protocol)
  add_executable(serial_controller_com_tests controller_over_com_win32_test.cpp)
  target_include_directories(serial_controller_com_tests PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests/sim)
  target_link_libraries(serial_controller_com_tests PRIVATE serial protocol vexel_test_support
                        GTest::gtest_main)
  vexel_com_tests(serial_controller_com_tests)
endif()

# Arrivals on a line served by its owner's loop, however the waits end. In the
# cross-build it runs plainly and once more with the shim's late-return mode,
# in which every idle wait ends before the call that armed it has returned.
add_executable(serial_wait_race_tests wait_race_win32_test.cpp com_pair_win32.cpp)
target_include_directories(serial_wait_race_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(serial_wait_race_tests PRIVATE serial GTest::gtest_main)
vexel_warnings(serial_wait_race_tests)
add_test(NAME serial_wait_race COMMAND serial_wait_race_tests)
set_tests_properties(serial_wait_race PROPERTIES LABELS "serial;com")
if(CMAKE_CROSSCOMPILING)
  add_test(NAME serial_wait_race.latereturn COMMAND serial_wait_race_tests)
  set_tests_properties(serial_wait_race.latereturn PROPERTIES LABELS "serial;com"
    ENVIRONMENT "LD_PRELOAD=${VEXEL_WINE_MODEM_LINES};VEXEL_WINE_LATE_WAIT_RETURN=1")
endif()
