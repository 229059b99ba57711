#!/usr/bin/env bash
# The Windows plug-in under Wine: builds the Windows programs (the module, the stand-in host and
# the pipe's channel test) for x86_64 into BUILD/windows-x86_64, runs the pipe's channel test,
# then the WindowsModule tests of PLUGIN_TESTS against a native `tessara feed --loopback`.
# Exits 77 (skipped) without wine64 or the mingw-w64 compiler, or when no Wine prefix can be made.
# Usage: windows-under-wine.sh SOURCE BUILD PLUGIN_TESTS
set -euo pipefail
src=$1
build=$2
plugin_tests=$3

wine64=$(command -v wine64 || true)
if [ -z "$wine64" ] && [ -x /usr/lib/wine/wine64 ]; then wine64=/usr/lib/wine/wine64; fi
if [ -z "$wine64" ]; then
  echo "SKIPPED: wine64 is not installed"
  exit 77
fi
if ! command -v x86_64-w64-mingw32-g++ >/dev/null; then
  echo "SKIPPED: the mingw-w64 compiler x86_64-w64-mingw32-g++ is not installed"
  exit 77
fi

win=$build/windows-x86_64
if [ ! -f "$win/build.ninja" ]; then
  cmake -S "$src" -B "$win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-x86_64.cmake" >/dev/null
fi
cmake --build "$win" -j 1 >/dev/null

# What the video tool sees of the module: the three entry points, undecorated, and system DLLs
# only (no C++ runtime beside it).
dump=$(x86_64-w64-mingw32-objdump -p "$win/VDubTessara.vdf")
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | awk '/\[/ && NR > 1 {print $NF}')
want=$'VirtualdubFilterModuleCheckVersion\nVirtualdubFilterModuleDeinit\nVirtualdubFilterModuleInit2'
if [ "$exports" != "$want" ]; then
  echo "VDubTessara.vdf exports:"; echo "$exports"; exit 1
fi
imports=$(awk '/DLL Name:/ {print toupper($3)}' <<<"$dump" | sort)
for dll in $imports; do
  case $dll in
    KERNEL32.DLL | USER32.DLL | MSVCRT.DLL | WS2_32.DLL) ;;
    *) echo "VDubTessara.vdf imports $dll, not a system DLL"; exit 1 ;;
  esac
done

# No window pops up (a message box returns at once without a display), no stray loopback file is
# found by the pipe's test, and the module's messages reach the log through the debug channel.
unset DISPLAY WAYLAND_DISPLAY TESSARA_LOOPBACK_FILE
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime

# One prefix per build folder, made once: a fresh one takes seconds to boot.
export WINEPREFIX=$build/wine-prefix WINEDEBUG=-all,warn+debugstr WINEDLLOVERRIDES="mscoree,mshtml="
wineserver=$(command -v wineserver || echo "${wine64%/*}/wineserver64")
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  rm -rf "$WINEPREFIX"
  "$wine64" wineboot -i >/dev/null 2>&1 || true
  # The registry reaches the disk when the server ends.
  "$wineserver" -w 2>/dev/null || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "SKIPPED: cannot create the Wine prefix $WINEPREFIX"
    exit 77
  fi
fi

echo "== the pipe's channel under Wine"
"$wine64" "$win/pipe-channel-test.exe" </dev/null
echo "== the Windows module under Wine, fed by tessara feed --loopback"
TESSARA_WINE=$wine64 TESSARA_WINDOWS_BUILD=$win "$plugin_tests" --gtest_filter='WindowsModule.*' \
  </dev/null
