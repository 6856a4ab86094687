#!/usr/bin/env bash
# Times `quillet scan` against the disk-usage tools over the same generated developer homes,
# warm cache, each tool run right after `du -s` (pair by pair, the order alternating from run
# to run) so that a machine shared with other work slows both sides of a pair alike.
#
# usage: bench/compare.sh [--entries "N ..."] [--one-target N] [--runs N] [--work DIR] [--tools "..."]
#   --entries "N ..."  sizes of the generated homes (default "300000 1000000")
#   --one-target N     entries in the single target of the memory run (default 1000000; 0 skips it)
#   --runs N           pairs per tool and home (default 5)
#   --work DIR         where generated homes go (default $TMPDIR or /tmp); removed afterwards
#   --tools "..."      a subset of: quillet ncdu gdu npkill find (default all that are installed)
# BUILD_DIR=folder builds there instead of the release preset (useful while others use it).
#
# The tools: ncdu and gdu are Debian packages (apt-get install ncdu gdu); npkill has no
# non-interactive mode, so its walk is stood in for by what it does: find the node_modules
# folders without entering them, then `du -s` each. The readdir-only `find` lists every
# entry without a stat, the floor of a single-threaded walk.
# Exits 1 when a target is missed: scan wall time at most 0.7 times `du -s`'s (the aim is
# 0.5), faster than ncdu and gdu, CPU time at most 1.3 times du's; peak memory at most 60 MB
# on the 300,000-entry home and 100 MB on the one-target home.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
entries_list="300000 1000000"
one_target=1000000
runs=5
work=${TMPDIR:-/tmp}
tools="quillet ncdu gdu npkill find"

while [[ $# -gt 0 ]]; do
    case $1 in
        --entries) entries_list=$2; shift 2 ;;
        --one-target) one_target=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --work) work=$2; shift 2 ;;
        --tools) tools=$2; shift 2 ;;
        *) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
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

if ! /usr/bin/time -f %M true >/dev/null 2>&1; then
    say "compare: GNU /usr/bin/time is needed for CPU time and peak memory (apt-get install time)"
    exit 1
fi
available=()
for tool in $tools; do
    case $tool in
        ncdu | gdu) command -v "$tool" >/dev/null || { say "compare: $tool is not installed, left out"; continue; } ;;
    esac
    available+=("$tool")
done

# The command line of one tool over home $1, as words.
command_for() {
    local tool=$1 h=$2
    case $tool in
        du) echo du -s "$h" ;;
        quillet) echo "$quillet" scan --json --no-simulators --home "$h" --root "$h/Developer" ;;
        ncdu) echo ncdu -0 -x -o /dev/null "$h" ;;
        gdu) echo gdu -n -p -s -x "$h" ;;
        npkill) echo bash -c "'find \"\$0\" -name node_modules -prune -print0 | xargs -0 -r du -s'" "$h" ;;
        find) echo find "$h" ;;
    esac
}

# One run: "wall user system peak_kb".
measure_once() {
    local log
    log=$(mktemp)
    eval "/usr/bin/time -o \"$log\" -f '%e %U %S %M' $1" >/dev/null 2>&1 || true
    tail -n 1 "$log"
    rm -f "$log"
}

median() { sort -g | awk '{v[NR] = $1} END {if (NR == 0) print 0; else print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
minmax() { sort -g | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%.2f–%.2f", lo, hi}'; }

machine() {
    local cpu
    cpu=$(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo 2>/dev/null || echo unknown)
    printf '%s, %s cores, %s, kernel %s, load %s' "$cpu" "$(nproc)" \
        "$(df -T "$work" | awk 'NR == 2 {print $2}')" "$(uname -r)" "$(awk '{print $1, $2, $3}' /proc/loadavg)"
}

status=0
mkdir -p "$work"
scratch=$(mktemp -d "$work/quillet-compare-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

say "machine: $(machine)"

compare_home() {
    local h=$1 label=$2
    local count
    count=$(find "$h" -mindepth 1 | wc -l | tr -d ' ')
    # Warm: every tool's metadata in memory before the first timed run.
    du -s "$h" >/dev/null
    for tool in "${available[@]}"; do eval "$(command_for "$tool" "$h")" >/dev/null 2>&1 || true; done

    local data=$scratch/runs.txt
    : >"$data"
    for run in $(seq "$runs"); do
        for tool in "${available[@]}"; do
            local du_cmd tool_cmd first second
            du_cmd=$(command_for du "$h")
            tool_cmd=$(command_for "$tool" "$h")
            if ((run % 2)); then first=du; second=$tool; else first=$tool; second=du; fi
            local a b
            a=$(measure_once "$( [[ $first == du ]] && echo "$du_cmd" || echo "$tool_cmd")")
            b=$(measure_once "$( [[ $second == du ]] && echo "$du_cmd" || echo "$tool_cmd")")
            local du_line tool_line
            if [[ $first == du ]]; then du_line=$a; tool_line=$b; else du_line=$b; tool_line=$a; fi
            echo "$tool $run $tool_line $du_line" >>"$data"
        done
    done

    printf '\n%s: %s entries, %s pairs per tool, warm cache\n' "$label" "$count" "$runs"
    printf '%s\n' "$(machine)"
    printf '\n| Tool | Wall median | Min–max | Wall / du (median of pairs) | CPU median (user+sys) | CPU / du | Peak RSS |\n'
    printf '|---|---:|---:|---:|---:|---:|---:|\n'
    # du itself, over every pair.
    local du_walls du_cpus du_peak
    du_walls=$(awk '{print $7}' "$data")
    du_cpus=$(awk '{print $8 + $9}' "$data")
    du_peak=$(awk '{print $10}' "$data" | median)
    local du_wall_median du_cpu_median
    du_wall_median=$(echo "$du_walls" | median)
    du_cpu_median=$(echo "$du_cpus" | median)
    printf '| `du -s` | %.2f s | %s s | 1.00 | %.2f s | 1.00 | %.1f MB |\n' "$du_wall_median" \
        "$(echo "$du_walls" | minmax)" "$du_cpu_median" "$(awk -v k="$du_peak" 'BEGIN {print k * 1024 / 1e6}')"
    for tool in "${available[@]}"; do
        local walls cpus ratios cpu_ratios peak wall_median cpu_median ratio cpu_ratio
        walls=$(awk -v t="$tool" '$1 == t {print $3}' "$data")
        cpus=$(awk -v t="$tool" '$1 == t {print $4 + $5}' "$data")
        ratios=$(awk -v t="$tool" '$1 == t && $7 > 0 {print $3 / $7}' "$data")
        cpu_ratios=$(awk -v t="$tool" '$1 == t && $8 + $9 > 0 {print ($4 + $5) / ($8 + $9)}' "$data")
        peak=$(awk -v t="$tool" '$1 == t {print $6}' "$data" | sort -n | tail -n 1)
        wall_median=$(echo "$walls" | median)
        cpu_median=$(echo "$cpus" | median)
        ratio=$(echo "$ratios" | median)
        cpu_ratio=$(echo "$cpu_ratios" | median)
        printf '| %s | %.2f s | %s s | %.2f | %.2f s | %.2f | %.1f MB |\n' "$tool" "$wall_median" \
            "$(echo "$walls" | minmax)" "$ratio" "$cpu_median" "$cpu_ratio" \
            "$(awk -v k="$peak" 'BEGIN {print k * 1024 / 1e6}')"
        eval "${tool}_ratio=$ratio"
        eval "${tool}_cpu_ratio=$cpu_ratio"
        eval "${tool}_peak=$peak"
    done

    if [[ " ${available[*]} " == *" quillet "* ]]; then
        local verdicts=()
        # shellcheck disable=SC2154
        awk -v r="$quillet_ratio" 'BEGIN {exit !(r <= 0.7)}' || { verdicts+=("wall over 0.7 x du"); status=1; }
        awk -v r="$quillet_cpu_ratio" 'BEGIN {exit !(r <= 1.3)}' || { verdicts+=("CPU over 1.3 x du"); status=1; }
        for other in ncdu gdu; do
            [[ " ${available[*]} " == *" $other "* ]] || continue
            local other_ratio
            eval "other_ratio=\$${other}_ratio"
            awk -v q="$quillet_ratio" -v o="$other_ratio" 'BEGIN {exit !(q < o)}' || { verdicts+=("not faster than $other"); status=1; }
        done
        if [[ $label == "home" && $count -le 400000 ]]; then
            awk -v k="$quillet_peak" 'BEGIN {exit !(k * 1024 <= 60e6)}' || { verdicts+=("peak memory over 60 MB"); status=1; }
        fi
        printf '\nquillet targets: %s\n' "$( ((${#verdicts[@]})) && printf '%s; ' "${verdicts[@]}" || echo "all met")"
    fi
}

for entries in $entries_list; do
    home=$scratch/home-$entries
    say "generating $entries entries in $home"
    "$generator" "$home" --entries "$entries" >/dev/null
    compare_home "$home" home
done

if [[ $one_target -gt 0 ]]; then
    one=$scratch/one-target
    say "generating one target of $one_target entries in $one"
    "$generator" "$one" --one-target "$one_target" >/dev/null
    du -s "$one" >/dev/null
    "$quillet" scan --json --no-simulators --home "$one" --root "$one/Developer" >/dev/null
    read -r wall user system peak < <(measure_once "$(command_for quillet "$one")")
    verdict=$(awk -v k="$peak" 'BEGIN {print (k * 1024 <= 100e6) ? "ok" : "MISSED"}')
    [[ $verdict == ok ]] || status=1
    printf '\none target of %s entries: quillet scan %.2f s wall, %.2f s CPU, peak %.1f MB (at most 100 MB) %s\n' \
        "$one_target" "$wall" "$(awk -v u="$user" -v s="$system" 'BEGIN {print u + s}')" \
        "$(awk -v k="$peak" 'BEGIN {print k * 1024 / 1e6}')" "$verdict"
fi

exit $status
