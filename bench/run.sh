#!/usr/bin/env bash
# Measures kelto against the dos2unix family, against the I/O limit of its
# in-place design and against the read limit, and prints one table. Started
# by `./build.sh bench`, which first installs what it needs from Debian's
# packages.
#   bench/run.sh          the full run: 256 MiB files, 20,000 small files
#   bench/run.sh smoke    tiny data and two rounds, to check that it works
#   bench/run.sh wine     kelto.exe under Wine against the Linux build, on
#                         the 256 MiB CR LF file
#   bench/run.sh limit    the conversions of the 256 MiB files against the I/O
#                         limit alone, here and on XFS and btrfs images
# Every case is timed in rounds: each round is one hyperfine call that runs
# every contender once, side by side, each run on a fresh copy of its input
# made by the same untimed step. A first round warms up and is not counted.
# The contenders thus take turns, each round another one first, and a load
# that comes and goes on a shared machine falls on all of them alike.
# Elapsed times are medians over the rounds, processor times means; ratios
# are ratios of medians. The conversions are also compared by their fastest
# rounds: on a virtual machine whose host takes back the memory the guest
# frees, any run that writes the file may take twice its time, and in ten
# rounds that can hold the median of one contender.
# KELTO_BENCH_RUNS sets the number of rounds (default 10); the data and the
# working copies go to KELTO_BENCH_DATA (default build/bench-data).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

mode=${1:-full}
runs=${KELTO_BENCH_RUNS:-10}
data=${KELTO_BENCH_DATA:-$root/build/bench-data}
build=$root/build/bench
tools=(hyperfine dos2unix unix2dos mac2unix /usr/bin/time fincore cmake g++)
if [ "$mode" = smoke ]; then
    # unit blocks of text per large file, dirs x files, sizes of the flat
    # directories, tree side
    blocks=2 dirs=3 per_dir=10 flat=200 side=10 runs=2
    data=$data-smoke
elif [ "$mode" = full ]; then
    blocks=256 dirs=200 per_dir=100 flat="10000 30000 100000" side=100
elif [ "$mode" = wine ]; then
    blocks=256
    data=$data-wine
    tools+=(wine wineserver i686-w64-mingw32-g++-posix)
elif [ "$mode" = limit ]; then
    blocks=256
else
    echo "usage: bench/run.sh [full|smoke|wine|limit]" >&2
    exit 2
fi

for tool in "${tools[@]}"; do
    if ! command -v "$tool" >/dev/null; then
        echo "bench/run.sh: $tool is missing; run ./build.sh bench $mode to install it" >&2
        exit 1
    fi
done

echo "== building kelto (release) in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELTO_TESTS=OFF -DKELTO_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
kelto=$build/kelto
iolimit=$build/bench/iolimit
# Where the timed runs work; the cases on other file systems move it.
work=$data/work

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

# The large files: the text with each type of line ending, the same printable
# bytes in lines of exactly 38 (40-byte CR LF lines, 39-byte LF lines), and
# nothing but line endings (CR CR LF LF over and over).
make_large() {
    local gen=$data/gen
    rm -rf "$data"
    mkdir -p "$gen" "$data/work"
    text_block > "$gen/lf.block"
    sed 's/$/\r/' "$gen/lf.block" > "$gen/crlf.block"
    tr '\n' '\r' < "$gen/lf.block" > "$gen/cr.block"
    # The last line of fold is the short rest; awk reads to the end, so that
    # no stage of the pipe is cut off early.
    tr -d '\n' < "$gen/lf.block" | fold -w 38 | awk 'length($0) == 38' > "$gen/lf39.block"
    sed 's/$/\r/' "$gen/lf39.block" > "$gen/crlf40.block"
    local t
    for t in lf crlf cr lf39 crlf40; do
        repeat_file "$gen/$t.block" "$blocks" > "$data/$t.txt"
    done
    # yes ends when head has enough, by a broken pipe.
    (yes $'\r\r\n' || true) | head -c $((blocks * 1048576)) > "$data/endings.txt"
    head -c 1048576 "$data/crlf.txt" > "$data/crlf-1m.txt"
    rm -rf "$gen"
}

# Many small files: about 2 KiB of CR LF text each, written by the shell
# itself (no process per file), then the directory copied. And for the
# expansion alone: empty files, one directory of them and a tree.
make_many() {
    local sample i d n
    sample=$(head -c 2048 "$data/crlf.txt"; echo x)
    sample=${sample%x}
    mkdir -p "$data/small/d1"
    for ((i = 1; i <= per_dir; i++)); do printf '%s' "$sample" > "$data/small/d1/f$i.txt"; done
    for ((d = 2; d <= dirs; d++)); do cp -r "$data/small/d1" "$data/small/d$d"; done
    for n in $flat; do
        mkdir -p "$data/flat/$n"
        for ((i = 1; i <= n; i++)); do : > "$data/flat/$n/f$i.txt"; done
    done
    mkdir -p "$data/tree/d1"
    for ((i = 1; i <= side; i++)); do : > "$data/tree/d1/f$i.txt"; done
    for ((d = 2; d <= side; d++)); do cp -r "$data/tree/d1" "$data/tree/d$d"; done
}

# cached FILE: reads FILE and checks that every page of it is in the page
# cache, so that a case that reads it measures no disk.
cached() {
    cat "$1" > /dev/null
    local res size
    read -r res size < <(fincore --bytes --noheadings --output RES,SIZE "$1")
    if [ "$res" -lt "$size" ]; then
        echo "bench/run.sh: only $res of $size bytes of $1 stay in the page cache" >&2
        exit 1
    fi
}

# --- timing ----------------------------------------------------------------

results=$data/results
table=()
fastest_ratios=()

# median, mean: of the numbers on standard input, one a line.
median() {
    sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
mean() {
    awk '{ s += $1 } END { print s / NR }'
}

# time_case NAME PREPARE CMD... : a warm-up round, then $runs rounds, each
# one hyperfine call that runs every command once, in the working
# directory. Stores, in the order of the commands, the median elapsed times
# in "medians", the fastest in "fastest" and the mean processor times in
# "users" and "systems". The system splits a process's time into user and
# system time by the clock ticks that fall in each, a few milliseconds
# apart: a mean of many runs evens that out, where a median would keep its
# steps.
time_case() {
    local name=$1 prepare=$2
    shift 2
    local dir=$results/$name n=$# r k
    mkdir -p "$dir"
    for ((r = 0; r <= runs; r++)); do
        # Round r starts with command r mod n: on a virtual machine a run's
        # place in its round can change its time.
        # hyperfine's warnings go to a log, shown if it fails.
        if ! (cd "$work" && hyperfine --style none --runs 1 --prepare "$prepare" \
            --export-csv "$dir/turned.csv" "${@:r % n + 1}" "${@:1:r % n}" >/dev/null 2>"$dir/log"); then
            cat "$dir/log" >&2
            exit 1
        fi
        awk -v s=$((r % n)) -v n=$n 'NR == 1 { print; next } { line[(NR - 2 + s) % n] = $0 }
            END { for (k = 0; k < n; k++) print line[k] }' "$dir/turned.csv" > "$dir/round$r.csv"
    done
    rm "$dir/round0.csv" "$dir/turned.csv"
    medians=() fastest=() users=() systems=()
    for ((k = 1; k <= n; k++)); do
        medians+=("$(field $k 6 | median)")
        fastest+=("$(field $k 6 | sort -g | head -1)")
        users+=("$(field $k 3 | mean)")
        systems+=("$(field $k 2 | mean)")
    done
}

# field K F: field F of command K in every round of time_case's DIR, F
# counted back from the end of a line, as a command may hold a comma: 6 the
# elapsed time of the one run, 3 its user time, 2 its system time.
field() {
    awk -F, -v k="$1" -v f="$2" 'FNR == k + 1 { print $(NF - f) }' "$dir"/round*.csv
}

# row CASE K PEER P : one line of the table, kelto's figures from command K
# of the last case, the other's from command P (0 is the first), with the
# ratio of their elapsed times.
row() {
    table+=("$(awk -v c="$1" -v k="${medians[$2]}" -v ku="${users[$2]}" -v ks="${systems[$2]}" \
        -v p="$3" -v q="${medians[$4]}" -v qu="${users[$4]}" -v qs="${systems[$4]}" \
        'BEGIN { printf "| %-40s | %7.3f | %5.3f + %5.3f | %-30s | %7.3f | %5.3f + %5.3f | %5.2f |",
                 c, k, ku, ks, p, q, qu, qs, k / q }')")
}

print_table() {
    local line
    line=$(printf -- '-%.0s' {1..42})
    printf '| %-40s | %7s | %-13s | %-30s | %7s | %-13s | %5s |\n' case "kelto s" "kelto cpu" against "its s" \
        "its cpu" ratio
    printf '|%s|---------|---------------|%s|---------|---------------|-------|\n' "$line" "${line:0:32}"
    printf '%s\n' "${table[@]}"
    table=()
}

large_case() {
    local opt=$1 file=$2 peer=$3
    # sync: no run pays for writing back the data of the run before it.
    local fresh="cp $data/$file file.txt && rm -f kelto.tmp iolimit.tmp && sync"
    # kelto's output must be the same bytes as the peer's, whose size is the
    # size the I/O limit writes.
    local size
    if ! size=$(cd "$work" && cp "$data/$file" expected.txt && $peer expected.txt &&
        cp "$data/$file" file.txt && "$kelto" "/$opt" file.txt && cmp -s file.txt expected.txt &&
        stat -c %s expected.txt && rm expected.txt); then
        echo "bench/run.sh: kelto /$opt $file differs from $peer" >&2
        exit 1
    fi
    limit_case "$opt" "$file" "$size" ""
    time_case "$opt-peer" "$fresh" "$kelto /$opt file.txt" "$peer file.txt"
    row "kelto /$opt $file" 0 "$peer" 1
}

# limit_case OPT FILE SIZE WHERE: kelto against the I/O limit and against
# the same loop with the system's copy back, in rounds of their own (on a
# virtual machine a run right after one of the dos2unix family could take
# twice its time), in the work directory; SIZE is the converted size, WHERE
# names a file system other than the machine's own.
limit_case() {
    local opt=$1 file=$2 size=$3 where=$4
    local fresh="cp $data/$file file.txt && rm -f kelto.tmp iolimit.tmp && sync"
    time_case "$opt$where" "$fresh" "$kelto /$opt file.txt" "$iolimit file.txt $size" \
        "$iolimit -c file.txt $size"
    row "kelto /$opt $file$where" 0 "I/O limit (iolimit)" 1
    row "kelto /$opt $file$where" 0 "system copy back (iolimit -c)" 2
    fastest_ratios+=("$(awk -v k="${fastest[0]}" -v q="${fastest[1]}" -v c="/$opt$where" 'BEGIN { printf "%s %.2f", c, k / q }')")
}

# The file each conversion starts from.
source_of() {
    case $1 in du) echo crlf.txt ;; ud) echo lf.txt ;; *) echo cr.txt ;; esac
}

# limit_cases WHERE: the three conversions against the I/O limit in the
# work directory, each measured against the size kelto converts it to.
limit_cases() {
    local opt file size
    for opt in du ud mu; do
        file=$(source_of $opt)
        size=$(cd "$work" && cp "$data/$file" file.txt && "$kelto" "/$opt" file.txt && stat -c %s file.txt)
        limit_case "$opt" "$file" "$size" "$1"
    done
}

# The conversions against the I/O limit on XFS and btrfs, each in a loop
# image of 2 GiB made and mounted here: there the copy back inside the
# system shares the blocks of kelto.tmp with the file instead of copying
# them. Root and mkfs.xfs or mkfs.btrfs are needed; a file system without
# them is skipped, and said so.
fs_cases() {
    local fs img mnt
    for fs in xfs btrfs; do
        img=$data/$fs.img mnt=$data/$fs
        if [ "$(id -u)" -ne 0 ] || ! command -v "mkfs.$fs" >/dev/null; then
            table+=("| ($fs: skipped, as it needs root and mkfs.$fs) |")
            continue
        fi
        rm -f "$img" && truncate -s 2G "$img" && "mkfs.$fs" -q -f "$img" >/dev/null
        mkdir -p "$mnt" && mount -o loop "$img" "$mnt"
        work=$mnt
        limit_cases " ($fs)"
        work=$data/work
        umount "$mnt" && rm -f "$img"
    done
}

# The table, then each conversion's fastest round over the I/O limit's.
print_results() {
    echo
    print_table
    echo
    local ratios
    ratios=$(printf ', %s' "${fastest_ratios[@]}")
    echo "Fastest round of each conversion over the I/O limit's fastest: ${ratios:2}"
}

# The conversions against the I/O limit alone, here and on other file
# systems.
limit_main() {
    echo "== generating data in $data"
    make_large
    mkdir -p "$results"
    echo "== timing ($runs rounds after a warm-up round, medians in seconds)"
    limit_cases ""
    fs_cases
    print_results
}

# The report reads its file in place: no copy, the file kept in the page
# cache. A relative path: kelto takes one that begins with / for an option.
report_case() {
    local file=$1 peer=$2
    cached "$data/$file"
    time_case "v-$file" "true" "$kelto /v ../$file" "$iolimit -r ../$file" "$peer ../$file"
    row "kelto /v $file" 0 "read limit (iolimit -r)" 1
    row "kelto /v $file" 0 "$peer" 2
}

peak_rss_kib() {
    (cd "$work" && cp "$data/$2" file.txt &&
        /usr/bin/time -f %M "$kelto" "$1" file.txt 2>&1 >/dev/null | tail -1)
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
    row "$small_case" 0 "find + dos2unix -q" 1
    row "$small_case" 0 "kelto /du */*.txt (shell)" 2

    # Reports on empty files: nearly all the time is the expansion; the run
    # with /nosort shows what the sort adds, the shell-expanded one the same
    # reports without the expansion.
    local n dir
    for n in $flat; do
        dir=$data/flat/$n
        time_case "flat-$n" "true" "cd $dir && $kelto /v '*.txt'" "cd $dir && $kelto /v '*.txt' /nosort" \
            "cd $dir && $kelto /v *.txt"
        row "kelto /v \"*.txt\" ($n empty files)" 0 "kelto /v \"*.txt\" /nosort" 1
        row "kelto /v \"*.txt\" ($n empty files)" 0 "kelto /v *.txt (shell)" 2
    done
    time_case tree "true" "cd $data/tree && $kelto /v '*.txt' /subdir" "cd $data/tree && $kelto /v */*.txt"
    row "kelto /v \"*.txt\" /subdir (${side}x$side)" 0 "kelto /v */*.txt (shell)" 1
}

main() {
    echo "== generating data in $data"
    make_large
    make_many
    mkdir -p "$results"
    echo "== timing ($runs rounds after a warm-up round, medians in seconds)"

    large_case du crlf.txt "dos2unix -q"
    large_case ud lf.txt "unix2dos -q"
    large_case mu cr.txt "mac2unix -q"
    fs_cases

    report_case crlf.txt "dos2unix -i"
    report_case crlf40.txt "wc -l"
    report_case lf39.txt "wc -l"
    report_case endings.txt "wc -l"

    if (cd "$data/tree/d1" && "$kelto" /v '*.txt' >/dev/null 2>&1); then
        expansion_cases
    else
        table+=("| (this build does not expand patterns: the cases of many files are left out) |")
    fi

    print_results
    echo "Peak resident set of kelto /du: $(peak_rss_kib /du crlf-1m.txt) KiB on 1 MiB," \
        "$(peak_rss_kib /du crlf.txt) KiB on $(du -m "$data/crlf.txt" | cut -f1) MiB;" \
        "of kelto /v: $(peak_rss_kib /v crlf.txt) KiB on $(du -m "$data/crlf.txt" | cut -f1) MiB"
    echo
    echo "== the byte loops alone (bench/micro.cpp, streams in memory, medians of 5)"
    # The data written above is on its way to disk; that must not share the
    # processor with the loops.
    sync
    "$build/bench/micro_bench" --benchmark_min_time=0.2 --benchmark_repetitions=5 \
        --benchmark_report_aggregates_only=true 2>/dev/null | grep -v -E '_(mean|stddev|cv) '
}

# kelto.exe, built for Windows, under Wine against the Linux build on the same
# file: the processor time in user mode is the figure to compare, as Wine
# adds its own work to every system call.
wine_main() {
    local win=$root/build/bench-windows
    echo "== building kelto.exe (release) in $win"
    cmake -S "$root" -B "$win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DKELTO_TESTS=OFF >/dev/null
    cmake --build "$win" -j "$(nproc)" >/dev/null
    # A prefix of its own, with one server for every run: a start of Wine
    # then costs no more than that of a program.
    export WINEPREFIX=$root/build/bench-wine WINEDEBUG=-all
    mkdir -p "$WINEPREFIX"
    wineserver -p
    trap 'wineserver -k' EXIT
    wine wineboot </dev/null >/dev/null 2>&1
    echo "== generating data in $data"
    make_large
    mkdir -p "$results"
    echo "== timing ($runs rounds after a warm-up round, medians in seconds)"
    local exe="wine $win/kelto.exe"
    cached "$data/crlf.txt"
    time_case wine-v "true" "$exe /v ../crlf.txt" "$kelto /v ../crlf.txt"
    row "kelto.exe /v crlf.txt (Wine)" 0 "kelto /v (Linux)" 1
    local ratio_v
    ratio_v=$(awk -v a="${users[0]}" -v b="${users[1]}" 'BEGIN { printf "%.2f", a / b }')
    time_case wine-du "cp $data/crlf.txt file.txt && rm -f kelto.tmp && sync" "$exe /du file.txt" \
        "$kelto /du file.txt"
    row "kelto.exe /du crlf.txt (Wine)" 0 "kelto /du (Linux)" 1
    local ratio_du
    ratio_du=$(awk -v a="${users[0]}" -v b="${users[1]}" 'BEGIN { printf "%.2f", a / b }')
    echo
    print_table
    echo
    echo "User processor time, kelto.exe under Wine over the Linux build: /v $ratio_v, /du $ratio_du"
}

if [ "$mode" = wine ]; then
    wine_main
elif [ "$mode" = limit ]; then
    limit_main
else
    main
fi
