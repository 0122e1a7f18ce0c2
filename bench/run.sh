#!/usr/bin/env bash
# Measures kelto against the dos2unix family and against the I/O limit of its
# in-place design, and prints one table. Started by `./build.sh bench`, which
# first installs what it needs from Debian's packages.
#   bench/run.sh          the full run: 256 MiB files, 20,000 small files
#   bench/run.sh smoke    tiny data and two runs each, to check that it works
# Each case is timed by hyperfine, every contender side by side in one call,
# each run on a fresh copy of the input made by the same untimed step, after
# one warm-up run. Ratios are of medians.
# KELTO_BENCH_RUNS sets the number of timed runs (default 10); the data and the
# working copies go to KELTO_BENCH_DATA (default build/bench-data).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

mode=${1:-full}
runs=${KELTO_BENCH_RUNS:-10}
data=${KELTO_BENCH_DATA:-$root/build/bench-data}
build=$root/build/bench
if [ "$mode" = smoke ]; then
    # unit blocks of text per large file, dirs x files, sizes of the flat
    # directories, tree side
    blocks=2 dirs=3 per_dir=10 flat=200 side=10 runs=2
    data=$data-smoke
elif [ "$mode" = full ]; then
    blocks=256 dirs=200 per_dir=100 flat="10000 30000 100000" side=100
else
    echo "usage: bench/run.sh [full|smoke]" >&2
    exit 2
fi

for tool in hyperfine dos2unix unix2dos mac2unix /usr/bin/time cmake g++; do
    if ! command -v "$tool" >/dev/null; then
        echo "bench/run.sh: $tool is missing; run ./build.sh bench to install it" >&2
        exit 1
    fi
done

echo "== building kelto (release) in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELTO_TESTS=OFF -DKELTO_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
kelto=$build/kelto
iolimit=$build/bench/iolimit

# --- data ------------------------------------------------------------------

# About 1 MiB of text: lines of 0 to 79 printable bytes, LF-ended, always the
# same bytes (fixed seed).
text_block() {
    awk 'BEGIN { srand(1); n = 0
        while (n < 1048576) {
            len = int(rand() * 80); line = ""
            for (i = 0; i < len; i++) line = line sprintf("%c", 32 + int(rand() * 95))
            print line; n += len + 1 } }'
}

repeat_file() {
    local block=$1 count=$2 i
    for ((i = 0; i < count; i++)); do cat "$block"; done
}

make_data() {
    local gen=$data/gen
    rm -rf "$data"
    mkdir -p "$gen" "$data/work"
    text_block > "$gen/lf.block"
    sed 's/$/\r/' "$gen/lf.block" > "$gen/crlf.block"
    tr '\n' '\r' < "$gen/lf.block" > "$gen/cr.block"
    local t
    for t in lf crlf cr; do
        repeat_file "$gen/$t.block" "$blocks" > "$data/$t.txt"
    done
    head -c 1048576 "$data/crlf.txt" > "$data/crlf-1m.txt"

    # Many small files: about 2 KiB of CR LF text each, written by the shell
    # itself (no process per file), then the directory copied.
    local sample
    sample=$(head -c 2048 "$gen/crlf.block"; echo x)
    sample=${sample%x}
    mkdir -p "$data/small/d1"
    for ((i = 1; i <= per_dir; i++)); do printf '%s' "$sample" > "$data/small/d1/f$i.txt"; done
    for ((d = 2; d <= dirs; d++)); do cp -r "$data/small/d1" "$data/small/d$d"; done

    # Expansion alone: empty files, one directory of them and a tree.
    local n
    for n in $flat; do
        mkdir -p "$data/flat/$n"
        for ((i = 1; i <= n; i++)); do : > "$data/flat/$n/f$i.txt"; done
    done
    mkdir -p "$data/tree/d1"
    for ((i = 1; i <= side; i++)); do : > "$data/tree/d1/f$i.txt"; done
    for ((d = 2; d <= side; d++)); do cp -r "$data/tree/d1" "$data/tree/d$d"; done
    rm -rf "$gen"
}

# --- timing ----------------------------------------------------------------

results=$data/results
table=()

# time_case NAME PREPARE CMD... : one hyperfine call for every command of
# the case, run in the working directory; stores the medians in "medians".
time_case() {
    local name=$1 prepare=$2
    shift 2
    local csv=$results/$name.csv
    # hyperfine's warnings about outliers go to a log, shown if it fails.
    if ! (cd "$data/work" && hyperfine --style none --warmup 1 --runs "$runs" \
        --prepare "$prepare" --export-csv "$csv" "$@" >/dev/null 2>"$results/$name.log"); then
        cat "$results/$name.log" >&2
        exit 1
    fi
    # The CSV has the columns command,mean,stddev,median,...
    mapfile -t medians < <(awk -F, 'NR > 1 { print $4 }' "$csv")
}

# row CASE KELTO_S PEER PEER_S : one line of the table, with the ratio.
row() {
    table+=("$(awk -v c="$1" -v k="$2" -v p="$3" -v q="$4" \
        'BEGIN { printf "| %-42s | %7.3f | %-34s | %7.3f | %5.2f |", c, k, p, q, k / q }')")
}

large_case() {
    local opt=$1 file=$2 peer=$3
    # sync: no run pays for writing back the data of the run before it.
    local fresh="cp $data/$file file.txt && rm -f kelto.tmp iolimit.tmp && sync"
    time_case "$opt" "$fresh" "$kelto /$opt file.txt" "$peer file.txt" "$iolimit file.txt"
    row "kelto /$opt $file ($blocks MiB)" "${medians[0]}" "$peer" "${medians[1]}"
    row "kelto /$opt $file ($blocks MiB)" "${medians[0]}" "I/O limit (iolimit)" "${medians[2]}"
}

peak_rss_kib() {
    (cd "$data/work" && cp "$data/$1" file.txt &&
        /usr/bin/time -f %M "$kelto" /du file.txt 2>&1 >/dev/null | tail -1)
}

# Many small files, and the expansion alone.
expansion_cases() {
    # The same conversion with the names expanded by the shell tells the
    # cost of the tool's own expansion apart from that of the conversions.
    time_case small "rm -rf small && cp -r $data/small small && sync" \
        "cd small && $kelto /du '*.txt' /subdir" \
        "cd small && find . -name '*.txt' -exec dos2unix -q {} +" \
        "cd small && $kelto /du */*.txt"
    local small_case="kelto /du \"*.txt\" /subdir ($((dirs * per_dir)) files)"
    row "$small_case" "${medians[0]}" "find + dos2unix -q" "${medians[1]}"
    row "$small_case" "${medians[0]}" "kelto /du */*.txt (shell expands)" "${medians[2]}"

    # Reports on empty files: nearly all the time is the expansion; the run
    # with /nosort shows what the sort adds, the shell-expanded one the same
    # reports without the expansion.
    local n dir
    for n in $flat; do
        dir=$data/flat/$n
        time_case "flat-$n" "true" "cd $dir && $kelto /v '*.txt'" "cd $dir && $kelto /v '*.txt' /nosort" \
            "cd $dir && $kelto /v *.txt"
        row "kelto /v \"*.txt\" ($n empty files)" "${medians[0]}" "kelto /v \"*.txt\" /nosort" "${medians[1]}"
        row "kelto /v \"*.txt\" ($n empty files)" "${medians[0]}" "kelto /v *.txt (shell expands)" "${medians[2]}"
    done
    time_case tree "true" "cd $data/tree && $kelto /v '*.txt' /subdir" "cd $data/tree && $kelto /v */*.txt"
    row "kelto /v \"*.txt\" /subdir (${side}x$side)" "${medians[0]}" "kelto /v */*.txt (shell expands)" "${medians[1]}"
}

main() {
    echo "== generating data in $data"
    make_data
    mkdir -p "$results"
    echo "== timing ($runs runs after a warm-up, medians in seconds)"

    large_case du crlf.txt "dos2unix -q"
    large_case ud lf.txt "unix2dos -q"
    large_case mu cr.txt "mac2unix -q"

    time_case v "cp $data/crlf.txt file.txt && sync" "$kelto /v file.txt" "dos2unix -i file.txt" \
        "$iolimit -r file.txt"
    row "kelto /v crlf.txt ($blocks MiB)" "${medians[0]}" "dos2unix -i" "${medians[1]}"
    row "kelto /v crlf.txt ($blocks MiB)" "${medians[0]}" "read limit (iolimit -r)" "${medians[2]}"

    if (cd "$data/tree/d1" && "$kelto" /v '*.txt' >/dev/null 2>&1); then
        expansion_cases
    else
        table+=("| (this build does not expand patterns: the cases of many files are left out) |")
    fi

    local rss_small rss_large
    rss_small=$(peak_rss_kib crlf-1m.txt)
    rss_large=$(peak_rss_kib crlf.txt)

    echo
    printf '| %-42s | %7s | %-34s | %7s | %5s |\n' case "kelto s" against "its s" ratio
    printf '|%s|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..44})" "$(printf -- '-%.0s' {1..9})" \
        "$(printf -- '-%.0s' {1..36})" "$(printf -- '-%.0s' {1..9})" "-------"
    printf '%s\n' "${table[@]}"
    echo
    echo "Peak resident set of kelto /du: $rss_small KiB on 1 MiB, $rss_large KiB on $(du -m "$data/crlf.txt" | cut -f1) MiB"
    echo
    echo "Processor time of the large cases (means, user + system seconds):"
    # The CSV columns 5 and 6 are the user and system times.
    awk -F, 'FNR > 1 { sub(/^[^ ]*\//, "", $1); printf "  %-28s %6.3f + %6.3f\n", $1, $5, $6 }' \
        "$results"/du.csv "$results"/ud.csv "$results"/mu.csv "$results"/v.csv
    echo
    echo "== the byte loops alone (bench/micro.cpp, streams in memory, medians of 5)"
    # The data written above is on its way to disk; that must not share the
    # processor with the loops.
    sync
    "$build/bench/micro_bench" --benchmark_min_time=0.2 --benchmark_repetitions=5 \
        --benchmark_report_aggregates_only=true 2>/dev/null | grep -v -E '_(mean|stddev|cv) '
}

main
