# The Debian package of the three programs, with their manual pages and the
# dialog program's desktop entry, icons and AppStream data: every install()
# rule of the project. scripts/package.sh builds it.
#
# The dependencies are computed from the binaries (dpkg-shlibdeps), never
# listed here: a library a program stops linking leaves them by itself.
set(VEXEL_PACKAGE_MAINTAINER "Vexel Module Loader developers <loader@vexel.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME duvozeviv)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Vexel)
set(CPACK_PACKAGE_CONTACT "${VEXEL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "program firmware images into Vexel modules over a serial line")
set(CPACK_PACKAGE_DESCRIPTION "\
The Vexel Module Loader sends a firmware image to a Vexel hardware module
over a serial line (57600 baud, 8E2) and has the module commit it to flash.
.
It has three programs: duvozeviv, the dialog program; duvozeviv-cli, a
command-line loader for production lines that programs several modules in
parallel, with exit codes, JSON events and frame traces; and
vexel-module-sim, a software module on a pseudo-terminal, to try, test and
benchmark the loader without hardware.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

# Compresses the manual pages and adds the copyright and changelog files
# to the staged tree, as Debian wants them.
set(CPACK_VEXEL_PACKAGING_DIR "${PROJECT_SOURCE_DIR}/packaging")
set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/DebianStaging.cmake")

include(CPack)
