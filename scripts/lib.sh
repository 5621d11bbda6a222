# Sourced by the scripts (". scripts/lib.sh"): the conventions they share.
#
#   vexel_root       the checkout's top folder
#   vexel_jobs       parallel jobs for builds and ctest: VEXEL_JOBS, else
#                    every core (nproc)
#   CCACHE_BASEDIR   exported, default the folder above the checkout, so
#                    that worktrees beside each other share the cache
# shellcheck shell=bash

vexel_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
vexel_jobs=${VEXEL_JOBS:-$(nproc)}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$vexel_root")}

# vexel_configure DIR native|windows [CMAKE_ARGS...]: configures a new build
# folder with Ninja and ccache (when installed), native as RelWithDebInfo,
# windows as the Release cross-build that is shipped, then CMAKE_ARGS. A
# folder configured before is left as it is (its build reruns CMake when a
# CMakeLists.txt changes).
vexel_configure() {
  local dir=$1 kind=$2
  shift 2
  [ ! -f "$dir/CMakeCache.txt" ] || return 0
  local args=(-S "$vexel_root" -B "$dir")
  command -v ninja >/dev/null && args+=(-G Ninja)
  command -v ccache >/dev/null && args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  case $kind in
    native) args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
    windows) args+=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$vexel_root/cmake/mingw-w64-x86_64.cmake") ;;
    *) echo "vexel_configure: no kind '$kind'" >&2; return 2 ;;
  esac
  cmake "${args[@]}" "$@" >/dev/null
}

# vexel_wait SECONDS COMMAND...: runs COMMAND every 50 ms until it succeeds
# (status 0) or the deadline passes (status 1). The scripts' helpers make
# their lines and end within milliseconds; the deadline only bounds a fault.
vexel_wait() {
  local tries=$(($1 * 20))
  shift
  while ! "$@"; do
    tries=$((tries - 1))
    [ $tries -gt 0 ] || return 1
    sleep 0.05
  done
}
vexel_has_line() { [ "$(wc -l <"$1")" -ge 1 ]; }  # FILE holds a whole line
vexel_ended() { ! kill -0 "$1" 2>/dev/null; }      # process PID is gone

# vexel_wine_stage NAME: Wine runs here only inside scripts/wine-sandbox.sh,
# a private mount namespace whose /dev holds no serial device, and making
# one needs root. Without root the stage says so and is skipped (status 0).
vexel_wine_stage() {
  [ "$(id -u)" -eq 0 ] && return 0
  echo "$1: skipped: not root. Wine runs only in a private mount namespace" \
    "without serial devices (scripts/wine-sandbox.sh, unshare --mount), which needs root"
  exit 0
}
