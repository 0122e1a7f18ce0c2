#!/usr/bin/env bash
# Builds the Debian package from a finished build and checks its name, its
# metadata, the files it holds, that a second build gives the same bytes and
# that the binary in it runs; lintian must have nothing to say about it.
#   package_check.sh BUILD_DIR VERSION
# Exits 77 (skipped) when the Debian packaging tools or lintian are missing.
# With KELTO_LINTIAN=0 in the environment lintian is left out (builds that
# are not the package's own: tests/CMakeLists.txt says which).
for tool in dpkg-deb dpkg-shlibdeps cpack; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
done
source "$(dirname "$0")/release_lib.sh"

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb=$work/out/kelto_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no package named $(basename "$deb"): $(ls "$work/out")"

# A second build a second later gives the same bytes: no date of the build's
# own goes into the package.
sleep 1
(cd "$build" && cpack -G DEB -B "$work/again" >/dev/null)
cmp "$deb" "$work/again/$(basename "$deb")" || fail "two builds of the package differ"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kelto ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Section)" = text ] || fail "Section: $(field Section)"
[ "$(field Multi-Arch)" = foreign ] || fail "Multi-Arch: $(field Multi-Arch)"
[ "$(field Maintainer)" = "The kelto developers <kelto@example.org>" ] ||
    fail "Maintainer: $(field Maintainer)"
grep -q 'libc6 (>= ' <<< "$(field Depends)" || fail "Depends lacks libc6: $(field Depends)"
[ "$(dpkg-deb -f "$deb" Description | wc -l)" -gt 3 ] || fail "no long description"

dpkg-deb -c "$deb" | awk '{print $1, $NF}' > "$work/contents"
for entry in "-rwxr-xr-x ./usr/bin/kelto" \
             "-rw-r--r-- ./usr/share/man/man1/kelto.1.gz" \
             "-rw-r--r-- ./usr/share/doc/kelto/copyright" \
             "-rw-r--r-- ./usr/share/doc/kelto/changelog.gz" \
             "-rw-r--r-- ./usr/share/doc/kelto/README.md"; do
    grep -qxF -- "$entry" "$work/contents" || fail "package lacks: $entry"
done
[ "$(grep -c '^-' "$work/contents")" -eq 5 ] || fail "unexpected files: $(cat "$work/contents")"

# The packaged binary runs and shows the package's version.
dpkg-deb -x "$deb" "$work/root"
check_banner "$work/root/usr/bin/kelto"

# No error, warning, informational or pedantic tag, but one: the description screen
# writes "Similary", and the tool's own texts stay as they are, byte for byte.
allowed="I: kelto: spelling-error-in-binary Similary Similarly [usr/bin/kelto]"
if [ "${KELTO_LINTIAN:-1}" = 0 ]; then
    echo "lintian left out: not the build of the package"
elif ! command -v lintian >/dev/null; then
    echo "SKIP: lintian not installed"
    exit 77
else
    report=$(lintian --pedantic --display-info --tag-display-limit 0 "$deb" 2>&1) || fail "lintian: $report"
    printf '%s\n' "$report"
    tags=$(grep -E '^[EWIP]: ' <<< "$report" | grep -vxF "$allowed" || true)
    [ -z "$tags" ] || fail "lintian reports: $tags"
fi
echo "package check passed"
