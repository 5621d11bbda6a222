# The cross-build's find_package looks only in the mingw sysroot, where
# Debian ships neither CLI11 nor nlohmann-json. Both are header-only, so the
# cross-build takes the host's headers: a folder of links to just their
# include directories (the whole of /usr/include would put glibc's headers
# in front of mingw's), as system includes under the packages' own target
# names. The subsystems then find the targets already there.
set(vexel_host_headers ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${vexel_host_headers})
foreach(package_dir CLI11:CLI nlohmann_json:nlohmann)
  string(REPLACE ":" ";" parts ${package_dir})
  list(GET parts 0 package)
  list(GET parts 1 dir)
  if(NOT IS_DIRECTORY /usr/include/${dir})
    message(FATAL_ERROR "${package} headers not found in /usr/include/${dir}; run scripts/deps.sh")
  endif()
  file(CREATE_LINK /usr/include/${dir} ${vexel_host_headers}/${dir} SYMBOLIC)
  add_library(${package}::${package} INTERFACE IMPORTED GLOBAL)
  target_include_directories(${package}::${package} SYSTEM INTERFACE ${vexel_host_headers})
endforeach()
