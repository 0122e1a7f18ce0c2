# The common start of the release checks, sourced by each:
#   CHECK.sh BUILD_DIR VERSION
# gives $build and $version, a scratch directory $work removed at exit, and
# the helpers below.
set -euo pipefail
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# The banner of the given kelto binary must name $version.
check_banner() {
    local banner
    banner=$("$1" | head -n 1 || true)
    [ "$banner" = "Tervolin  KELTO Version $version for DOS32" ] || fail "banner: $banner"
}
