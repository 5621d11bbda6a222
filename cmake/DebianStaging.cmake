# Run by CPack on the staged tree of the Debian package, before it is packed:
# the manual pages compressed, and the copyright and changelog files the
# package must carry, as Debian policy wants them.
set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${root}/share/doc/${CPACK_PACKAGE_NAME}")

# gzip -9n: no name or time stamp in the header, so the package is reproducible.
function(vexel_gzip file)
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${file} failed")
  endif()
endfunction()

file(GLOB pages "${root}/share/man/man*/*.[1-9]")
foreach(page IN LISTS pages)
  vexel_gzip("${page}")
endforeach()

# file(COPY_FILE), not file(INSTALL): CPack's DESTDIR would be added again.
file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "${CPACK_VEXEL_PACKAGING_DIR}/copyright" "${doc}/copyright")
file(COPY_FILE "${CPACK_VEXEL_PACKAGING_DIR}/changelog" "${doc}/changelog.Debian")
file(CHMOD "${doc}/copyright" "${doc}/changelog.Debian"
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
vexel_gzip("${doc}/changelog.Debian")
