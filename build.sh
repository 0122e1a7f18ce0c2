#!/usr/bin/env bash
# Sets up, builds and checks kelto on Debian 12.
#   ./build.sh demo   install what building kelto lacks (cmake, g++), build the
#                     tool alone and show it at work on a few sample files
#   ./build.sh test   install what the build lacks, build, and run every test,
#                     those of the Windows build (kelto.exe) under Wine too;
#                     exits non-zero when any test fails
#   ./build.sh release  build the Debian package and the Windows zip into
#                     build/packages
#   ./build.sh bench [smoke|wine|limit]  install the benchmark's tools and run bench/run.sh
#   ./build.sh fuzz [seconds]  run each fuzz target for that long (default 60)
#   ./build.sh setup  install what the tests need and build nothing
#                     (docs/hacking.md: the quick loop)
set -euo pipefail
cd "$(dirname "$0")"

# The builds and test runs of the presets use every core.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}

# Debian packages that building the tool needs: make is the generator that
# cmake drives (and recommends, so apt-get brings it along anyway).
tool_packages=(cmake g++ make)
# Debian packages the tests need besides.
packages=("${tool_packages[@]}" clang libgtest-dev libbenchmark-dev groff-base mandoc dpkg-dev
          lintian libclang-rt-14-dev llvm clang-tidy cppcheck clang-format locales)
# And those of the Windows console build and its tests: the MinGW-w64 cross
# compiler and Wine with its 32-bit part.
windows_packages=(g++-mingw-w64-i686-posix wine wine32:i386)
# And where the machine cannot run 32-bit programs, those of the same build as
# a 64-bit program (test_windows).
windows64_packages=(g++-mingw-w64-x86-64-posix wine64)

# True when the Debian package P is installed. The output is taken whole
# before it is searched: a grep that stops early under pipefail would fail
# the pipeline.
installed() {
    [[ $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) == *"ok installed"* ]]
}

install_missing() {
    local missing=()
    for p in "$@"; do
        installed "$p" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "build.sh: run as root (or with sudo) to install ${missing[*]}" >&2
        exit 1
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

# The Shift JIS locale under which the tests of two-byte names run, on Linux
# and under Wine (code page 932). glibc's SHIFT_JIS is no superset of ASCII,
# so localedef warns, and ends non-zero, while it makes the locale: whether
# it is there afterwards decides.
make_test_locale() {
    [[ $(locale -a) == *ja_JP.sjis* ]] && return 0
    echo "== making the locale ja_JP.SJIS"
    localedef -c -i ja_JP -f SHIFT_JIS ja_JP.SJIS 2>/dev/null || true
    if [[ $(locale -a) != *ja_JP.sjis* ]]; then
        echo "build.sh: cannot make the locale ja_JP.SJIS (run as root)" >&2
        exit 1
    fi
}

demo() {
    install_missing "${tool_packages[@]}"
    echo "== building kelto alone: cmake --workflow --preset tool"
    cmake --workflow --preset tool >/dev/null
    local kelto=$PWD/build/tool/kelto
    local dir
    dir=$(mktemp -d)
    cd "$dir"
    printf 'first line\r\nsecond line\r\nthird line\n' > dos.txt
    printf 'one\ntwo\nthree\n' > unix.txt
    printf 'mac one\rmac two\r' > mac.txt
    echo "== sample files in $dir"
    echo "\$ kelto /v dos.txt unix.txt mac.txt"
    "$kelto" /v dos.txt unix.txt mac.txt
    echo "\$ kelto /du dos.txt"
    "$kelto" /du dos.txt
    echo "\$ kelto /mu mac.txt"
    "$kelto" /mu mac.txt
    echo "\$ kelto /v dos.txt unix.txt mac.txt"
    "$kelto" /v dos.txt unix.txt mac.txt
    echo "== the binary: $kelto"
}

# Each suite below is one step of the test command. A workflow preset
# configures, builds and runs the tests of one build.

test_linux() {
    # The g++ build treats warnings as errors and runs every test.
    cmake --workflow --preset ci
    # clang must build the same code without a warning, and pass the tests too.
    cmake --workflow --preset clang
}

# The whole test suite again under AddressSanitizer and UndefinedBehaviorSanitizer;
# any report fails its test.
test_asan() {
    cmake --workflow --preset asan
}

# Each fuzz target first runs every input of its committed corpus, then
# explores for SECONDS (default 60). A finding stops it, is saved under
# build/fuzz/findings and fails the step; it then joins fuzz/corpus/<target>/.
test_fuzz() {
    local seconds=${1:-60}
    cmake --workflow --preset fuzz
    local findings=build/fuzz/findings corpus name
    mkdir -p "$findings"
    for corpus in fuzz/corpus/*/; do
        name=$(basename "$corpus")
        mkdir -p "build/fuzz/grown/$name"
        if ! LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0 "build/fuzz/fuzz/${name}_fuzz" \
                -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
                -artifact_prefix="$findings/$name-" "build/fuzz/grown/$name" "$corpus" \
                >"build/fuzz/$name.log" 2>&1; then
            tail -n 40 "build/fuzz/$name.log"
            echo "fuzz: $name found a fault; the input is in $findings" >&2
            return 1
        fi
        echo "fuzz: $name $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "build/fuzz/$name.log")"
    done
}

# clang-tidy (.clang-tidy) and cppcheck over src/; any finding fails the step.
# The Windows-only files (*_win32.cpp) are left to cppcheck alone, as
# clang-tidy would need the Windows headers; cppcheck sees each apart from the
# POSIX files, the two never being linked together.
test_static() {
    cmake --preset clang -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
    local posix_files=() win32_files=() f
    for f in src/*.cpp; do
        case $f in
            *_win32.cpp) win32_files+=("$f") ;;
            *) posix_files+=("$f") ;;
        esac
    done
    clang-tidy -p build/clang --quiet "${posix_files[@]}" 2> >(grep -v " warnings generated\.$" >&2)
    # Left out: raw loops are kept where they read plainer; the expansion's
    # tree owns memory that it never frees, by design, and cannot be copied
    # (its lists cannot), which cppcheck does not see.
    local cppcheck=(cppcheck --std=c++17 --language=c++ -I src --quiet --error-exitcode=1
                    --enable=warning,style,performance,portability --inline-suppr
                    --suppress=useStlAlgorithm --suppress=noDestructor
                    --suppress=unsafeClassCanLeak --suppress=noCopyConstructor
                    --suppress=noOperatorEq)
    "${cppcheck[@]}" "${posix_files[@]}"
    for f in "${win32_files[@]}"; do
        "${cppcheck[@]}" "$f"
    done
}

# The layout of the code against .clang-format; nothing is rewritten.
check_format() {
    clang-format --dry-run --Werror src/*.cpp src/*.h tests/*.cpp tests/*.h fuzz/*.cpp fuzz/*.h bench/*.cpp
}

# Installs the Windows build's tools, or stops the run saying why: the test
# command never passes without the Windows suites.
install_windows() {
    if ! grep -qx i386 <<< "$(dpkg --print-foreign-architectures)"; then
        [ "$(id -u)" -eq 0 ] || { echo "build.sh: run as root to add the i386 architecture for Wine" >&2; exit 1; }
        echo "== adding the i386 architecture (Wine's 32-bit part)"
        dpkg --add-architecture i386
    fi
    install_missing "${windows_packages[@]}" || true
    local p
    for p in "${windows_packages[@]}"; do
        if ! installed "$p"; then
            echo "build.sh: $p cannot be installed on this machine; the Windows build and its tests cannot run" >&2
            exit 1
        fi
    done
}

# Whether this machine runs 32-bit x86 programs at all: some virtual machines
# start only 64-bit ones, and Wine's 32-bit loader then fails with "Exec
# format error" before it does anything.
runs_32_bit() {
    /usr/lib/wine/wine --version >/dev/null 2>&1
}

# The suites of the Windows build of PRESET, run by Wine's LOADER: its unit
# suites through ctest, then the end-to-end suites of the Linux build
# (test_linux) against its kelto.exe, where every printed line feed arrives
# as CR LF and absolute paths are reached through drive Z:.
windows_suites() {
    local preset=$1 loader=$2
    # A prefix of each build's own, build/wine and build/wine64: a 64-bit
    # prefix cannot serve the 32-bit loader.
    export WINEPREFIX=$PWD/build/${preset/windows/wine} WINEDEBUG=-all
    # One server for the whole suite, instead of a start of about two seconds
    # for every program. The prefix is created on first use; booting it with
    # its output elsewhere keeps the services it leaves running from holding
    # a test's output pipe open.
    mkdir -p "$WINEPREFIX"
    wineserver -p
    trap 'wineserver -k' EXIT
    "$loader" wineboot </dev/null >/dev/null 2>&1
    cmake --workflow --preset "$preset"
    # Left out: two cases whose command lines (100,000-byte arguments, 10,000
    # names) exceed the 32,767 characters that Windows passes to a program.
    build/ci/tests/e2e_tests --kelto="$PWD/build/$preset/kelto.exe" --launcher="$loader" --crlf \
        --root=Z: --no-posix \
        --gtest_filter=-bad_input.arguments_of_100000_bytes:bad_input.thousands_of_arguments
    wineserver -k
    trap - EXIT
}

# The Windows console build, kelto.exe, is a 32-bit program, and its suites
# run under Wine. On a machine that cannot start a 32-bit program, it is built
# and its header checked, and the same suites run on the same code built as a
# 64-bit program, under Wine's 64-bit loader.
test_windows() {
    install_windows
    if runs_32_bit; then
        windows_suites windows wine
        return
    fi
    echo "== SKIPPED: the 32-bit kelto.exe under Wine: this machine cannot run 32-bit x86 programs;"
    echo "== its header is checked, and its suites run on the 64-bit Windows build under wine64"
    install_missing "${windows64_packages[@]}"
    cmake --preset windows
    cmake --build --preset windows --target kelto
    ctest --preset windows -R '^pe_header$'
    windows_suites windows64 /usr/lib/wine/wine64
}

run_tests() {
    install_missing "${packages[@]}"
    make_test_locale
    test_linux
    test_windows
    test_asan
    test_fuzz
    test_static
    check_format
}

# The release files, in build/packages: the Debian package and the zip of the
# Windows console build.
release() {
    install_missing "${packages[@]}" g++-mingw-w64-i686-posix
    cmake --workflow --preset deb
    cmake --preset windows >/dev/null
    cmake --build --preset windows
    cpack --config build/windows/CPackConfig.cmake -B "$PWD/build/packages"
    ls -l build/packages/*.deb build/packages/*.zip
}

# The benchmark against the dos2unix family (docs/performance.md).
bench() {
    # xfsprogs and btrfs-progs make the file systems of the cases on XFS and
    # btrfs, which run as root.
    install_missing "${packages[@]}" hyperfine dos2unix time xfsprogs btrfs-progs
    [ "${1:-}" != wine ] || install_windows
    bench/run.sh "$@"
}

case "${1:-}" in
    demo) demo ;;
    test) run_tests ;;
    release) release ;;
    bench) shift; bench "$@" ;;
    fuzz) install_missing "${packages[@]}"; test_fuzz "${2:-60}" ;;
    setup) install_missing "${packages[@]}"; make_test_locale; install_windows ;;
    *) echo "usage: ./build.sh demo | test | release | bench [smoke|wine|limit] | fuzz [seconds] | setup" >&2; exit 2 ;;
esac
