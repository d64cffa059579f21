#!/usr/bin/env bash
# A release installer must be reproducible: the same source built again with
# the same keys, in another folder and at another time, gives the same bytes.
#   reproducible_release_test.sh RELEASE_BUILD_DIR
# Rebuilds only the installer, from a copy of the source tree as it stands
# (committed or not, without its build folder) under a longer, different path.
set -u
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
first=$build/KestrelumeInstaller.exe
[ -f "$first" ] || { echo "FAIL $first: missing (tools/test builds the release-configured installer)"; exit 1; }
keys=$(sed -n 's/^KESTRELUME_TRUSTED_KEYS:STRING=//p' "$build/CMakeCache.txt")
[ -n "$keys" ] || { echo "FAIL: no KESTRELUME_TRUSTED_KEYS in $build/CMakeCache.txt"; exit 1; }
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrelume-rebuild.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
copy=$scratch/another/checkout/of/the/source
mkdir -p "$copy"
tar -C "$source_dir" --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$copy" ||
  { echo "FAIL: could not copy the source"; exit 1; }
(cd "$copy" && cmake --preset release -B "$scratch/build" -DKESTRELUME_TRUSTED_KEYS="$keys" >/dev/null &&
   cmake --build "$scratch/build" --target KestrelumeInstaller -j2 >/dev/null) ||
  { echo "FAIL: the second build did not build"; exit 1; }
second=$scratch/build/KestrelumeInstaller.exe
echo "$first: $(stat -c %s "$first") bytes, sha256 $(sha256sum <"$first" | cut -c1-64)"
echo "rebuilt in $copy: $(stat -c %s "$second") bytes, sha256 $(sha256sum <"$second" | cut -c1-64)"
if ! cmp -s "$first" "$second"; then
  echo "FAIL: the two builds differ in $(cmp -l "$first" "$second" | wc -l) bytes; first differences (offset, octal):"
  cmp -l "$first" "$second" | head -n 8
  exit 1
fi
echo "ok   identical"
