#!/usr/bin/env bash
# A release installer must be reproducible: the same source built again with
# the same keys, in another folder and at another time, gives the same bytes.
#   reproducible_release_test.sh RELEASE_BUILD_DIR
#       rebuilds the installer and compares; or, when KESTRELUME_RELEASE_REBUILD
#       names a folder, compares with the rebuild made there (waiting for it)
#   reproducible_release_test.sh --rebuild-only RELEASE_BUILD_DIR FOLDER
#       makes that rebuild (tools/test starts it beside the Wine tests); FOLDER
#       gets the installer, the log and, last, a "status" file with the exit code
# The rebuild takes only the installer, from a copy of the source tree as it
# stands (committed or not, without its build folder) under a longer path.
set -u
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

# rebuild RELEASE_BUILD_DIR SCRATCH: the installer built again in SCRATCH/build.
rebuild() {
  local build=$1 scratch=$2 keys copy
  keys=$(sed -n 's/^KESTRELUME_TRUSTED_KEYS:STRING=//p' "$build/CMakeCache.txt")
  [ -n "$keys" ] || { echo "FAIL: no KESTRELUME_TRUSTED_KEYS in $build/CMakeCache.txt"; return 1; }
  copy=$scratch/another/checkout/of/the/source
  mkdir -p "$copy"
  tar -C "$source_dir" --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$copy" ||
    { echo "FAIL: could not copy the source"; return 1; }
  (cd "$copy" && cmake --preset release -B "$scratch/build" -DKESTRELUME_TRUSTED_KEYS="$keys" >/dev/null &&
     cmake --build "$scratch/build" --target KestrelumeInstaller -j2 >/dev/null) ||
    { echo "FAIL: the second build did not build"; return 1; }
  echo "rebuilt in $copy"
}

if [ "${1:-}" = --rebuild-only ]; then
  build=$2 out=$3
  mkdir -p "$out"
  rm -f "$out/status" "$out/KestrelumeInstaller.exe"
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrelume-rebuild.XXXXXX")
  rebuild "$build" "$scratch" >"$out/log" 2>&1
  status=$?
  [ $status -eq 0 ] && cp "$scratch/build/KestrelumeInstaller.exe" "$out/"
  rm -rf "$scratch"
  echo $status >"$out/status"
  exit $status
fi

build=$1
first=$build/KestrelumeInstaller.exe
[ -f "$first" ] || { echo "FAIL $first: missing (tools/test builds the release-configured installer)"; exit 1; }
if [ -n "${KESTRELUME_RELEASE_REBUILD:-}" ]; then
  out=$KESTRELUME_RELEASE_REBUILD
  echo "comparing with the rebuild in $out"
  for _ in $(seq 1 570); do [ -f "$out/status" ] && break; sleep 1; done
  [ -f "$out/status" ] || { echo "FAIL: the rebuild in $out did not finish"; exit 1; }
  cat "$out/log"
  [ "$(cat "$out/status")" = 0 ] || exit 1
  second=$out/KestrelumeInstaller.exe
else
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrelume-rebuild.XXXXXX")
  trap 'rm -rf "$scratch"' EXIT
  rebuild "$build" "$scratch" || exit 1
  second=$scratch/build/KestrelumeInstaller.exe
fi
echo "$first: $(stat -c %s "$first") bytes, sha256 $(sha256sum <"$first" | cut -c1-64)"
echo "rebuilt: $(stat -c %s "$second") bytes, sha256 $(sha256sum <"$second" | cut -c1-64)"
if ! cmp -s "$first" "$second"; then
  echo "FAIL: the two builds differ in $(cmp -l "$first" "$second" | wc -l) bytes; first differences (offset, octal):"
  cmp -l "$first" "$second" | head -n 8
  exit 1
fi
echo "ok   identical"
