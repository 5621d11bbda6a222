# The Windows installer: an NSIS setup program made by CPack from the
# cross-build (scripts/package-windows.sh runs it). It installs the dialog
# program, and the command-line loader when the build has it, into one
# folder with a Start-menu shortcut and an uninstaller:
#   duvozeviv-<version>-win64-setup.exe [/S] [/D=C:\Folder]
if(NOT WIN32)
  return()
endif()

# The command-line loader installs itself into bin/ with its manual page for
# the Debian package; on Windows it goes next to the dialog program instead.
set(vexel_setup_components duvozeviv)
if(TARGET duvozeviv-cli)
  install(TARGETS duvozeviv-cli RUNTIME DESTINATION . COMPONENT windows_cli)
  list(APPEND vexel_setup_components windows_cli)
endif()
# What the setup program holds, as one target to build before packing
# (scripts/package-windows.sh), whichever generator the build uses. Packing
# installs only that, so it need not build everything else (the tests) first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
add_custom_target(windows_setup_programs)
add_dependencies(windows_setup_programs duvozeviv)
if(TARGET duvozeviv-cli)
  add_dependencies(windows_setup_programs duvozeviv-cli)
endif()
set(CPACK_INSTALL_CMAKE_PROJECTS "")
foreach(component IN LISTS vexel_setup_components)
  list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};${component};/")
endforeach()

set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME duvozeviv)
set(CPACK_PACKAGE_VENDOR Vexel)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_FILE_NAME "duvozeviv-${PROJECT_VERSION}-win64-setup")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Vexel Module Loader")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Vexel Module Loader")
set(CPACK_PACKAGE_EXECUTABLES duvozeviv "Vexel Module Loader")
set(CPACK_STRIP_FILES ON)

set(CPACK_NSIS_PACKAGE_NAME "Vexel Module Loader")
set(CPACK_NSIS_DISPLAY_NAME "Vexel Module Loader")
# A 64-bit setup program: the programs are 64-bit, and a 64-bit-only Wine
# cannot run NSIS's default 32-bit stub.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_INSTALLED_ICON_NAME duvozeviv.exe)
set(CPACK_NSIS_MUI_ICON "${PROJECT_SOURCE_DIR}/app/win32/artwork/duvozeviv.ico")
set(CPACK_NSIS_MUI_UNIICON "${PROJECT_SOURCE_DIR}/app/win32/artwork/duvozeviv.ico")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MODIFY_PATH OFF)
# Uninstall steps of our own: no empty registry key, no copy of the
# uninstaller, left behind (packaging/windows/uninstall_extra.nsh.in).
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/uninstall_extra.nsh.in
               ${PROJECT_BINARY_DIR}/uninstall_extra.nsh @ONLY)
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "!include '${PROJECT_BINARY_DIR}/uninstall_extra.nsh'")

include(CPack)
