#!/usr/bin/env bash
# Times `quillet scan` against `du -s` over the same generated developer home, and measures the
# scan's peak memory on a home whose one target holds a million entries.
#
# usage: bench/scan_vs_du.sh [--home DIR] [--entries N] [--one-target N] [--runs N] [--work DIR]
#   --home DIR      time against an existing home (DIR/Developer is the project root)
#   --entries N     size of the generated home (default 300000)
#   --one-target N  entries in the single target of the memory run (default 1000000; 0 skips it)
#   --runs N        timed runs of each command (default 10)
#   --work DIR      where generated homes go (default $TMPDIR or /tmp); removed afterwards
# BUILD_DIR=folder builds there instead of the release preset (useful while others use it).
# Exits 1 when a target is missed: scan at most 1.5 times du's wall time, peak memory of the
# one-target scan under 150 MB.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
home=""
entries=300000
one_target=1000000
runs=10
work=${TMPDIR:-/tmp}

while [[ $# -gt 0 ]]; do
    case $1 in
        --home) home=$2; shift 2 ;;
        --entries) entries=$2; shift 2 ;;
        --one-target) one_target=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --work) work=$2; shift 2 ;;
        *) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
    esac
done

say() { printf '%s\n' "$*" >&2; }

# --- build -------------------------------------------------------------------------------------
if [[ -n ${BUILD_DIR:-} ]]; then
    cmake -S "$repo" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLET_BUILD_APP=OFF \
        -DQUILLET_BUILD_TESTS=OFF >/dev/null
    cmake --build "$BUILD_DIR" -j2 --target quillet generate_home >/dev/null
    bin=$BUILD_DIR
else
    (cd "$repo" && cmake --preset release >/dev/null && cmake --build --preset release --target quillet generate_home >/dev/null)
    bin=$repo/build/release
fi
quillet=$bin/bin/quillet
generator=$bin/bench/generate_home

# --- tools -------------------------------------------------------------------------------------
if ! command -v hyperfine >/dev/null && [[ $(id -u) == 0 ]] && command -v apt-get >/dev/null; then
    apt-get install -y hyperfine >/dev/null 2>&1 || true
fi
# GNU time reports kilobytes with -v; BSD time reports bytes with -l.
if /usr/bin/time -v true >/dev/null 2>&1; then
    time_style=gnu
elif /usr/bin/time -l true >/dev/null 2>&1; then
    time_style=bsd
else
    say "scan_vs_du: /usr/bin/time is needed for peak memory (apt-get install time)"
    exit 1
fi

# Peak resident memory of one run of the command, in kilobytes.
peak_kb() {
    local log
    log=$(mktemp)
    if [[ $time_style == gnu ]]; then
        /usr/bin/time -v "$@" >/dev/null 2>"$log"
        awk -F': ' '/Maximum resident set size/ {print $2}' "$log"
    else
        /usr/bin/time -l "$@" >/dev/null 2>"$log"
        awk '/maximum resident set size/ {printf "%d\n", $1 / 1024}' "$log"
    fi
    rm -f "$log"
}

# Wall time of one run in seconds, without a shell in between.
wall_seconds() {
    local start end
    start=${EPOCHREALTIME:-$(date +%s.%N)}
    "$@" >/dev/null 2>&1
    end=${EPOCHREALTIME:-$(date +%s.%N)}
    awk -v a="$start" -v b="$end" 'BEGIN {printf "%.4f\n", b - a}'
}

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# Median wall times of du and the scan, "du scan", in seconds.
time_pair() {
    local h=$1
    local du_cmd=(du -s "$h")
    local scan_cmd=("$quillet" scan --json --no-simulators --home "$h" --root "$h/Developer")
    if command -v hyperfine >/dev/null; then
        local csv
        csv=$(mktemp)
        hyperfine -N --warmup 2 --runs "$runs" --style none --export-csv "$csv" \
            "$(printf '%q ' "${du_cmd[@]}")" "$(printf '%q ' "${scan_cmd[@]}")" >/dev/null
        # Columns end with mean,stddev,median,user,system,min,max; count from the end so a
        # comma in a path cannot shift them.
        awk -F, 'NR > 1 {printf "%s ", $(NF - 4)} END {print ""}' "$csv"
        rm -f "$csv"
    else
        local du_times=() scan_times=()
        for _ in $(seq "$runs"); do
            du_times+=("$(wall_seconds "${du_cmd[@]}")")
            scan_times+=("$(wall_seconds "${scan_cmd[@]}")")
        done
        echo "$(printf '%s\n' "${du_times[@]}" | median) $(printf '%s\n' "${scan_times[@]}" | median)"
    fi
}

warm() {
    du -s "$1" >/dev/null
    du -s "$1" >/dev/null
    if ! "$quillet" scan --json --no-simulators --home "$1" --root "$1/Developer" >/dev/null; then
        say "scan_vs_du: quillet scan failed on $1"
        exit 1
    fi
}

mb() { awk -v k="$1" 'BEGIN {printf "%.1f MB", k * 1024 / 1e6}'; }

# --- homes -------------------------------------------------------------------------------------
mkdir -p "$work"
scratch=$(mktemp -d "$work/quillet-bench-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

if [[ -z $home ]]; then
    home=$scratch/home
    say "generating $entries entries in $home"
    "$generator" "$home" --entries "$entries" >/dev/null
fi
count=$(find "$home" -mindepth 1 | wc -l | tr -d ' ')

# --- timing ------------------------------------------------------------------------------------
warm "$home"
read -r du_wall scan_wall < <(time_pair "$home")
du_peak=$(peak_kb du -s "$home")
scan_peak=$(peak_kb "$quillet" scan --json --no-simulators --home "$home" --root "$home/Developer")
ratio=$(awk -v s="$scan_wall" -v d="$du_wall" 'BEGIN {printf "%.2f", s / d}')
ratio_ok=$(awk -v r="$ratio" 'BEGIN {print (r <= 1.5) ? "ok" : "MISSED"}')

status=0
[[ $ratio_ok == ok ]] || status=1

printf '\nhome: %s (%s entries), %s runs each, timed with %s\n\n' "$home" "$count" "$runs" \
    "$(command -v hyperfine >/dev/null && echo hyperfine || echo date+median)"
printf '%-34s %12s %12s\n' "" "wall median" "peak RSS"
printf '%-34s %10.3f s %12s\n' "du -s HOME" "$du_wall" "$(mb "$du_peak")"
printf '%-34s %10.3f s %12s\n' "quillet scan --root HOME/Developer" "$scan_wall" "$(mb "$scan_peak")"
printf '%-34s %12s   (target <= 1.50) %s\n' "ratio scan / du" "$ratio" "$ratio_ok"

# --- one large target --------------------------------------------------------------------------
if [[ $one_target -gt 0 ]]; then
    one=$scratch/one-target
    say "generating one target of $one_target entries in $one"
    "$generator" "$one" --one-target "$one_target" >/dev/null
    warm "$one"
    one_du=$(wall_seconds du -s "$one")
    one_scan=$(wall_seconds "$quillet" scan --json --no-simulators --home "$one" --root "$one/Developer")
    one_peak=$(peak_kb "$quillet" scan --json --no-simulators --home "$one" --root "$one/Developer")
    # 150 MB = 150,000,000 bytes.
    peak_ok=$(awk -v k="$one_peak" 'BEGIN {print (k * 1024 < 150e6) ? "ok" : "MISSED"}')
    [[ $peak_ok == ok ]] || status=1
    printf '\none target of %s entries (one run each)\n' "$one_target"
    printf '%-34s %10.3f s\n' "du -s HOME" "$one_du"
    printf '%-34s %10.3f s %12s   (target < 150 MB) %s\n' "quillet scan" "$one_scan" "$(mb "$one_peak")" "$peak_ok"
fi

exit $status
