# Cross-build for 64-bit Windows with Debian's mingw-w64 (the -posix thread
# model, so std::thread works). Test executables run through Wine.
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VEXEL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VEXEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEXEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VEXEL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VEXEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Each .exe carries its runtime, so it runs on a bare Windows without the
# compiler's DLLs next to it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Wine runs only inside the sandbox, whose /dev holds no real serial device
# (Wine would map /dev/ttyS* to COM ports, and ttyS0 may be the console).
find_program(VEXEL_WINE NAMES wine wine64)
if(VEXEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-sandbox.sh ${VEXEL_WINE})
endif()
