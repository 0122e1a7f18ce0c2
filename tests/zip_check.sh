#!/usr/bin/env bash
# Builds the Windows release zip from a finished Windows build and checks its
# name, that it holds exactly kelto.exe and usage.txt, and that the usage text
# has Windows (CR LF) line endings.
#   zip_check.sh BUILD_DIR VERSION
source "$(dirname "$0")/release_lib.sh"

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >/dev/null
zip=$work/out/kelto-$version-win32.zip
[ -f "$zip" ] || fail "no zip named $(basename "$zip"): $(ls "$work/out")"

mkdir "$work/x"
(cd "$work/x" && cmake -E tar xf "$zip")
top=$work/x/kelto-$version-win32
[ "$(cd "$work/x" && find . -type f | sort | tr '\n' ' ')" = \
  "./kelto-$version-win32/kelto.exe ./kelto-$version-win32/usage.txt " ] ||
    fail "zip contents: $(cd "$work/x" && find . -type f)"
[ "$(head -c 2 "$top/kelto.exe")" = MZ ] || fail "kelto.exe is no Windows program"

usage=$top/usage.txt
lines=$(tr -cd '\n' < "$usage" | wc -c)
pairs=$(grep -c $'\r$' "$usage" || true)
[ "$lines" -gt 0 ] && [ "$lines" -eq "$pairs" ] || fail "usage.txt: $pairs of $lines lines end in CR LF"
[ "$(tr -cd '\r' < "$usage" | wc -c)" -eq "$lines" ] || fail "usage.txt has a lone CR"
grep -q "^kelto $version for Windows" "$usage" || fail "usage.txt does not name version $version"
echo "zip check passed"
