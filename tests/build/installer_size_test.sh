#!/usr/bin/env bash
# The stripped release installer, resources included, must stay within
# 200 KiB (204,800 bytes).
#   installer_size_test.sh INSTALLER
# It builds nothing: it checks the installer that a release-configured build
# made (tools/test makes one; a release build checks its own).
set -u
installer=$1
limit=204800

if [ ! -f "$installer" ]; then
  echo "FAIL $installer: missing (tools/test builds the release-configured installer)"
  exit 1
fi
size=$(stat -c %s "$installer")
echo "$installer: $size bytes, limit $limit"
if [ "$size" -gt "$limit" ]; then
  echo "FAIL: $((size - limit)) bytes over the limit. Sections:"
  x86_64-w64-mingw32-objdump -h "$installer" | while read -r _ name hex_size _; do
    [[ $name == .* ]] && printf '  %-8s %7d\n' "$name" "$((16#$hex_size))"
  done
  echo "tools/size-report lists what takes the room (from the map file beside the installer)."
  exit 1
fi
