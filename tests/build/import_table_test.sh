#!/usr/bin/env bash
# The installers' load-time import tables: KnownDLLs only (the loader takes
# anything else from the program's folder first, before our first line runs),
# and no function newer than Windows 7 SP1 (the loader would refuse to start
# the program there, so "Windows too old" could never be shown).
#   import_table_test.sh INSTALLER...
set -u
known_dlls="advapi32 comdlg32 gdi32 imm32 kernel32 msvcrt normaliz ole32 oleaut32 psapi rpcrt4 setupapi shell32 shlwapi user32 ws2_32"
# Newer than Windows 7 SP1, and what this program calls or would be tempted
# to: per-monitor DPI (Windows 10), and the later kernel32 additions.
newer_functions="SetProcessDpiAwarenessContext GetDpiForWindow GetDpiForSystem AdjustWindowRectExForDpi
  GetSystemMetricsForDpi SystemParametersInfoForDpi SetThreadDpiAwarenessContext EnableNonClientDpiScaling
  GetSystemTimePreciseAsFileTime SetDefaultDllDirectories AddDllDirectory GetCurrentThreadStackLimits
  SetThreadDescription CreateFile2 WaitOnAddress WakeByAddressSingle"
failures=0
for exe in "$@"; do
  if [ ! -f "$exe" ]; then
    echo "FAIL $exe: missing (tools/test builds the release-configured installer)"; failures=$((failures + 1)); continue
  fi
  table=$(x86_64-w64-mingw32-objdump -p "$exe") || { echo "FAIL $exe: objdump"; failures=$((failures + 1)); continue; }
  dlls=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$table")
  [ -n "$dlls" ] || { echo "FAIL $exe: no import table found"; failures=$((failures + 1)); continue; }
  for dll in $dlls; do
    if [[ " $known_dlls " != *" ${dll%.dll} "* ]]; then
      echo "FAIL $exe: imports $dll at load time, which is not a KnownDLL"; failures=$((failures + 1))
    fi
  done
  # Function lines of the import tables: "<hint> <name>" after each DLL Name.
  functions=$(awk '/DLL Name:/ {inside = 1; next} inside && NF == 0 {inside = 0}
                   inside && $1 ~ /^[0-9a-f]+$/ && NF >= 2 {print $NF}' <<<"$table")
  for name in $newer_functions; do
    if grep -qx "$name" <<<"$functions"; then
      echo "FAIL $exe: imports $name at load time, which Windows 7 SP1 does not have"; failures=$((failures + 1))
    fi
  done
  echo "checked $exe: $(tr '\n' ' ' <<<"$dlls")"
done
[ "$failures" -eq 0 ]
