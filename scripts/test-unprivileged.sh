#!/usr/bin/env bash
# Runs the tests of a built tree twice in a row as a user without privileges, each time with
# a fresh, empty temporary folder, and fails when a run fails or leaves anything behind (in
# the temporary folder or in the build folder). As root the runs go under uid/gid 65534
# (nobody/nogroup): root may write anywhere and never sees a refused write, a normal user
# does. As any other user the runs go under that user.
#   scripts/test-unprivileged.sh BUILD_DIR [ctest arguments...]
# ZQ455_TEST_UID / ZQ455_TEST_GID choose another user and group for the runs as root.
set -euo pipefail

if [ $# -lt 1 ] || [ ! -f "$1/CTestTestfile.cmake" ]; then
  echo "usage: $0 BUILD_DIR [ctest arguments...]  (BUILD_DIR: a configured and built tree)" >&2
  exit 2
fi
BUILD_DIR=$(realpath "$1")
shift
SOURCE_DIR=$(sed -n "s/^CMAKE_HOME_DIRECTORY:INTERNAL=//p" "$BUILD_DIR/CMakeCache.txt" 2>/dev/null || true)
SOURCE_DIR=${SOURCE_DIR:-$(realpath "$(dirname "$0")/..")}

RUN_AS=()
if [ "$(id -u)" -eq 0 ]; then
  TEST_UID=${ZQ455_TEST_UID:-65534}
  TEST_GID=${ZQ455_TEST_GID:-65534}
  RUN_AS=(setpriv --reuid="$TEST_UID" --regid="$TEST_GID" --clear-groups)
fi

# Everything this script changes is put back on the way out, whatever the outcome.
top=""
restore_modes=() # "mode folder" pairs
cleanup() {
  local entry
  for entry in "${restore_modes[@]}"; do
    chmod "${entry%% *}" "${entry#* }" || echo "warning: could not restore the mode of ${entry#* }" >&2
  done
  if [ -n "$top" ]; then
    rm -rf "$top"
  fi
}
# ctest runs in the background so that a signal to this script is handled at once, not
# when the run is over.
ctest_pid=""
stop() {
  if [ -n "$ctest_pid" ]; then
    kill "$ctest_pid" 2>/dev/null || true
    wait "$ctest_pid" 2>/dev/null || true
  fi
  exit "$1"
}
trap cleanup EXIT
trap 'stop 130' INT
trap 'stop 143' TERM

# The folders the runs may use: TMPDIR (checked for leftovers), and beside it a home and a
# runtime folder for Qt, which would otherwise make one of its own under TMPDIR. ctest writes
# its logs under the folder it is given, which the user may not write to: it is given a folder
# of its own that includes the build folder's tests.
top=$(mktemp -d "${TMPDIR:-/tmp}/zq455-unprivileged.XXXXXX")
mkdir -m 700 "$top/tmp" "$top/home" "$top/runtime" "$top/ctest"
printf 'subdirs("%s")\n' "$BUILD_DIR" >"$top/ctest/CTestTestfile.cmake"
if [ ${#RUN_AS[@]} -ne 0 ]; then
  chown -R "$TEST_UID:$TEST_GID" "$top"
  # A checkout under a folder the user cannot pass through (/root is 0700): grant search
  # permission only, on exactly those folders, for the length of the runs.
  for tree in "$BUILD_DIR" "$SOURCE_DIR" "$top"; do
    folder=/
    IFS=/ read -r -a parts <<<"${tree#/}"
    for part in "${parts[@]}"; do
      folder=${folder%/}/$part
      if ! "${RUN_AS[@]}" test -x "$folder"; then
        restore_modes+=("$(stat -c %a "$folder") $folder")
        chmod o+x "$folder"
      fi
    done
  done
  for needed in "$BUILD_DIR/CTestTestfile.cmake" "$SOURCE_DIR/CMakeLists.txt"; do
    if ! "${RUN_AS[@]}" test -r "$needed"; then
      echo "error: uid $TEST_UID cannot read $needed (a checkout or build made under umask 077?)" >&2
      exit 1
    fi
  done
fi

# What the build folder holds before the runs: a test that writes into its working folder
# shows up as a new name there.
list_build() {
  find "$BUILD_DIR" -path "$BUILD_DIR/Testing" -prune -o -print | sort
}
before=$(list_build)

env_vars=(
  "PATH=$PATH"
  "HOME=$top/home"
  "TMPDIR=$top/tmp"
  "XDG_RUNTIME_DIR=$top/runtime"
  "LANG=${LANG:-C.UTF-8}"
)
for name in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
  if [ -n "${!name:-}" ]; then
    env_vars+=("$name=${!name}")
  fi
done
user=$("${RUN_AS[@]}" id -un 2>/dev/null || "${RUN_AS[@]}" id -u)
env_vars+=("USER=$user" "LOGNAME=$user")
# Not the caller's working folder, which the user may not be allowed to enter.
cd /

status=0
for run in 1 2; do
  echo "== run $run of 2 as $user (uid $("${RUN_AS[@]}" id -u)), TMPDIR=$top/tmp"
  start=$(date +%s)
  "${RUN_AS[@]}" env -i "${env_vars[@]}" \
    ctest --test-dir "$top/ctest" --output-on-failure --timeout 300 "$@" &
  ctest_pid=$!
  if ! wait "$ctest_pid"; then
    echo "error: run $run failed" >&2
    status=1
  fi
  ctest_pid=""
  echo "== run $run took $(($(date +%s) - start)) s"
  left=$(find "$top/tmp" -mindepth 1 -maxdepth 3 | head -n 20)
  if [ -n "$left" ]; then
    echo "error: run $run left files in its temporary folder:" >&2
    echo "$left" >&2
    status=1
  fi
  after=$(list_build)
  new=$(comm -13 <(echo "$before") <(echo "$after") | head -n 20)
  if [ -n "$new" ]; then
    echo "error: run $run left files in the build folder:" >&2
    echo "$new" >&2
    status=1
  fi
  [ $status -eq 0 ] || break
done
if [ $status -eq 0 ]; then
  echo "== both runs passed and left nothing behind"
fi
exit $status
