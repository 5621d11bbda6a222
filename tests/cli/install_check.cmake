# cmake --install puts the program and its man page in place, and the man
# page formats without warnings.
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --component cli --prefix ${PREFIX}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "install failed: ${result}")
endif()
foreach(file bin/duvozeviv-cli share/man/man1/duvozeviv-cli.1)
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
find_program(GROFF groff)
if(GROFF)
  execute_process(COMMAND ${GROFF} -ww -man -z ${PREFIX}/share/man/man1/duvozeviv-cli.1
                  ERROR_VARIABLE warnings RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "man page: ${warnings}")
  endif()
endif()
