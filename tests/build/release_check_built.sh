#!/usr/bin/env bash
# The release-configured installer that the checks of what ships look at.
# tools/test builds it beside the Wine tests and says so with
# KESTRELUME_RELEASE_CHECK_PENDING; this waits for that build to finish and
# fails, with its log, if it failed. Otherwise the installer must be there.
#   release_check_built.sh RELEASE_BUILD_DIR
set -u
build=$1
if [ -n "${KESTRELUME_RELEASE_CHECK_PENDING:-}" ]; then
  for _ in $(seq 1 570); do [ -f "$build/build-status" ] && break; sleep 1; done
  [ -f "$build/build-status" ] || { echo "FAIL: the release build in $build did not finish"; exit 1; }
  if [ "$(cat "$build/build-status")" != 0 ]; then
    echo "FAIL: the release build in $build failed:"
    tail -n 40 "$build/build.log"
    exit 1
  fi
fi
[ -f "$build/KestrelumeInstaller.exe" ] ||
  { echo "FAIL $build/KestrelumeInstaller.exe: missing (tools/test builds the release-configured installer)"; exit 1; }
echo "built: $build/KestrelumeInstaller.exe"
