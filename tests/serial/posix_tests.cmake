# Linux: the I/O tests run over real pseudo-terminals; the device-settings <->
# termios mapping is tested as pure functions.
add_library(serial_test_support STATIC process_limits.cpp)
target_include_directories(serial_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(serial_test_support PUBLIC serial vexel_test_support)
vexel_warnings(serial_test_support)

target_sources(serial_tests PRIVATE
  termios_mapping_posix_test.cpp
  port_names_test.cpp
  result_text_test.cpp
  serial_port_test.cpp
  serial_loop_line_test.cpp
  tty_faults_posix_test.cpp
)
target_link_libraries(serial_tests PRIVATE serial_test_support)

target_sources(serial_thread_tests PRIVATE serial_wnd_test.cpp com_message_posix_test.cpp)
target_link_libraries(serial_thread_tests PRIVATE serial_test_support)

# The controller's whole exchange over a pty, against the simulator core.
if(TARGET protocol AND TARGET modulesim)
  add_executable(serial_controller_tests controller_over_pty_test.cpp)
  target_link_libraries(serial_controller_tests PRIVATE serial protocol modulesim
                        serial_test_support GTest::gtest_main)
  vexel_warnings(serial_controller_tests)
  gtest_discover_tests(serial_controller_tests PROPERTIES LABELS "serial")
  serial_tsan_labels(serial_controller_tests)
endif()
