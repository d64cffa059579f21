#!/usr/bin/env bash
# The stripped release installer, resources included, must stay within
# 200 KiB (204,800 bytes).
#   installer_size_test.sh INSTALLER
# It builds nothing: it checks the installer that a release build made. With
# none there, or one older than the sources, the check is skipped (exit 77).
set -u
installer=$1
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
limit=204800

if [ ! -f "$installer" ]; then
  echo "skipped: no release installer at $installer"
  echo "(cmake --preset release -DKESTRELUME_TRUSTED_KEYS=... && cmake --build --preset release)"
  exit 77
fi
newer=$(find "$source_dir/src" "$source_dir/resources" -type f -newer "$installer" -print -quit)
if [ -n "$newer" ]; then
  echo "skipped: $installer is older than $newer; build the release preset again"
  exit 77
fi

size=$(stat -c %s "$installer")
echo "$installer: $size bytes, limit $limit"
if [ "$size" -gt "$limit" ]; then
  echo "FAIL: $((size - limit)) bytes over the limit. Sections:"
  x86_64-w64-mingw32-objdump -h "$installer" | awk '$2 ~ /^\./ { printf "  %-8s %7d\n", $2, strtonum("0x" $3) }'
  echo "tools/size-report lists what takes the room."
  exit 1
fi
