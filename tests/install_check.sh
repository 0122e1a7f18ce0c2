#!/usr/bin/env bash
# End-to-end check of `cmake --install`: installs the build into a temporary
# staging directory, runs the installed binary and renders the installed
# manual page.
#   install_check.sh BUILD_DIR VERSION
source "$(dirname "$0")/release_lib.sh"

DESTDIR=$work cmake --install "$build" --prefix /usr >/dev/null
kelto=$work/usr/bin/kelto
man_page=$work/usr/share/man/man1/kelto.1.gz
[ -x "$kelto" ] || fail "no executable at usr/bin/kelto"
[ -f "$man_page" ] || fail "no manual page at usr/share/man/man1/kelto.1.gz"
[ -f "$work/usr/share/doc/kelto/copyright" ] || fail "no copyright file"
[ -f "$work/usr/share/doc/kelto/README.md" ] || fail "no README"

# The installed binary works: a report, then a conversion, byte for byte.
cd "$work"
printf 'a\r\nb\n' > sample.txt
"$kelto" /v /du sample.txt > out.txt
printf '%-30s dos unix\n' sample.txt > want.txt
cmp -s out.txt want.txt || fail "report of the installed binary: $(cat out.txt)"
printf 'a\nb\n' > want.txt
cmp -s sample.txt want.txt || fail "conversion by the installed binary"
[ ! -e kelto.tmp ] || fail "kelto.tmp left behind"

# The banner names the version the package is built with.
check_banner "$kelto"

# The manual page renders without a warning and has its main sections.
page=$(gzip -dc "$man_page")
warnings=$(groff -ww -z -man <<< "$page" 2>&1)
[ -z "$warnings" ] || fail "groff warnings: $warnings"
if command -v mandoc >/dev/null; then
    lint=$(mandoc -T lint <<< "$page" 2>&1) || fail "mandoc lint: $lint"
    [ -z "$lint" ] || fail "mandoc lint: $lint"
else
    echo "mandoc not installed: lint check skipped"
fi
text=$(groff -man -Tascii -P-cbou <<< "$page" 2>/dev/null)
for section in NAME SYNOPSIS DESCRIPTION OPTIONS WILDCARDS "ORDER OF FILES" \
               "BINARY AND UTF-16 FILES" "EXIT STATUS" DIAGNOSTICS "TEMPORARY FILE" \
               RECOVERY ENVIRONMENT FILES NOTES BUGS EXAMPLES "SEE ALSO"; do
    grep -qx "$section" <<< "$text" || fail "manual page lacks section $section"
done
grep -q "kelto $version" <<< "$text" || fail "manual page does not name version $version"
echo "install check passed"
