#!/usr/bin/env bash
# Runs the relay comparison: our host, the hosting window on an X server that this script starts
# (Xvfb), the minimal relay (bench/minimal_relay.cpp, a yardstick) and ngircd, each under three
# send patterns, in a room of 8 and of 32 clients, runs interleaved so that noise on the machine
# hits every relay alike. Prints per room size a Markdown table of medians with the runs' range and
# each relay's ratio to ngircd run by run, and draws docs/relay_bench_<clients>.png from the same
# figures. Installs what is missing (Debian 12) and builds in build-bench/.
# Usage: bench/run_relay_bench.sh [--runs N] [--clients "8 32"] [--relays "ours window-xvfb ..."]
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
sizes="8 32"
relays="ours window-xvfb minimal ngircd"
while (($#)); do
    case $1 in
    --runs) runs=$2 ;;
    --clients) sizes=$2 ;;
    --relays) relays=$2 ;;
    *) echo "usage: $0 [--runs N] [--clients \"8 32\"] [--relays \"ours window-xvfb minimal ngircd\"]" >&2 && exit 2 ;;
    esac
    shift 2
done

scripts/install_missing.sh cmake ninja-build g++ libgtest-dev qt6-base-dev ngircd gnuplot-nox \
    fonts-dejavu-core xvfb xauth
# Should the package start a system-wide ngircd (port 6667), it is left alone: the bench runs its
# own on a free loopback port and stops it.

build_dir=build-bench
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARLOX_BUILD_APP=ON >/dev/null
cmake --build "$build_dir" --target relay_bench window_bench minimal_relay -j "$(nproc)" >/dev/null
bench=$build_dir/bench/relay_bench

data=$(mktemp -d)
xvfb_pid=
cleanup() {
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$data"
}
trap cleanup EXIT
# The X server picks a free display number and writes it to the descriptor given.
exec 3>"$data/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do
    [ -s "$data/display" ] && break
    sleep 0.1
done
display=:$(head -n1 "$data/display")

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')," \
    "$(. /etc/os-release && echo "$PRETTY_NAME"); load average before the runs:" \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
for run in $(seq "$runs"); do
    for clients in $sizes; do
        for relay in $relays; do
            case $relay in
            window-offscreen) figures=$(QT_QPA_PLATFORM=offscreen "$bench" --relay window --clients "$clients") ;;
            window-xvfb) figures=$(DISPLAY=$display QT_QPA_PLATFORM=xcb "$bench" --relay window --clients "$clients") ;;
            *) figures=$("$bench" --relay "$relay" --clients "$clients") ;;
            esac || echo "run_relay_bench: $relay, $clients clients, run $run: relay_bench failed" >&2
            echo "$figures" | awk -v run="$run" -v relay="$relay" 'NF == 2 { print run, relay, $1, $2 }' \
                >>"$data/figures_$clients"
        done
    done
    echo "run_relay_bench: run $run of $runs done (load average $(cut -d' ' -f1 /proc/loadavg))" >&2
done
echo "Load average after the runs: $(cut -d' ' -f1-3 /proc/loadavg)"

# The table and the chart for one room size.
report() {
local clients=$1
# The table and the chart's data. Every cell: the median of the runs with their range; ratios are
# taken run by run against ngircd's figure of the same run, then summarised the same way.
awk -v relays="$relays" -v runs="$runs" -v clients="$clients" -v chart="$data/chart.dat" '
function sort(a, n,    i, j, t) {
    for (i = 2; i <= n; ++i)
        for (j = i; j > 1 && a[j - 1] > a[j]; --j) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
}
function number(v, d) {
    if (v >= 1e5) return sprintf("%.2fM", v / 1e6)
    return sprintf("%.*f", d, v)
}
# Median (min-max) of the values collected in vals[1..n].
function summary(n, d, suffix,    m, low, high) {
    if (n == 0) return "-"
    sort(vals, n)
    m = n % 2 ? vals[(n + 1) / 2] : (vals[n / 2] + vals[n / 2 + 1]) / 2
    med = m; low = number(vals[1], d) suffix; high = number(vals[n], d) suffix
    return low == high ? number(m, d) suffix : number(m, d) suffix " (" low "-" high ")"
}
function collect(relay, metric,    r, n) {
    n = 0
    for (r = 1; r <= runs; ++r)
        if ((r, relay, metric) in fig) vals[++n] = fig[r, relay, metric]
    return n
}
function ratios(relay, metric,    r, n) {
    n = 0
    for (r = 1; r <= runs; ++r)
        if ((r, relay, metric) in fig && (r, "ngircd", metric) in fig && fig[r, "ngircd", metric] > 0)
            vals[++n] = fig[r, relay, metric] / fig[r, "ngircd", metric]
    return n
}
function row(label, metric, d, worst,    i, n, line) {
    line = "| " label " |"
    for (i = 1; i <= nr; ++i) {
        n = collect(rel[i], metric)
        if (worst) { sort(vals, n); line = line " " (n ? number(vals[n], 0) : "-") " |" }
        else line = line " " summary(n, d, "") " |"
    }
    for (i = 1; i <= nr; ++i) {
        if (rel[i] == "ngircd") continue
        line = line " " (worst ? "-" : summary(ratios(rel[i], metric), 2, "x")) " |"
    }
    print line
}
{ fig[$1, $2, $3] = $4 }
END {
    nr = split(relays, rel, " ")
    split("line 16 burst", pat, " ")
    split("one line per send;16 lines per send;the whole burst", patName, ";")
    printf "\n%d clients, medians of %d runs (min-max); ratios over ngircd run by run\n\n| |", clients, runs
    for (i = 1; i <= nr; ++i) printf " %s |", rel[i]
    for (i = 1; i <= nr; ++i) if (rel[i] != "ngircd") printf " %s/ngircd |", rel[i]
    printf "\n|---|"
    for (i = 1; i < 2 * nr; ++i) printf "---:|"
    printf "\n"
    for (p = 1; p <= 3; ++p)
        row("**CPU per delivery, " patName[p] " (ns)**", pat[p] "_cpu_ns_per_delivery", 0, 0)
    for (p = 1; p <= 3; ++p)
        row("throughput, " patName[p] " (deliveries/s)", pat[p] "_deliveries_per_s", 0, 0)
    for (r = 1; r <= runs; ++r)
        for (i = 1; i <= nr; ++i)
            if ((r, rel[i], "line_errors") in fig)
                fig[r, rel[i], "errors"] = fig[r, rel[i], "line_errors"] + fig[r, rel[i], "16_errors"] + fig[r, rel[i], "burst_errors"]
    row("lost+corrupted+duplicated+reordered, all patterns (worst run)", "errors", 0, 1)
    row("join storm, last roster complete (ms)", "join_ms", 1, 0)
    row("fan-out latency p50 (us)", "latency_p50_us", 0, 0)
    row("fan-out latency p99 (us)", "latency_p99_us", 0, 0)
    row("fan-out latency max (us)", "latency_max_us", 0, 0)
    row("relay CPU per fan-out line (us)", "latency_cpu_us_per_line", 1, 0)
    row("relay RSS after the runs (KiB)", "rss_kib", 0, 0)
    row("RSS the room added to the relay (KiB)", "rss_added_kib", 0, 0)
    row("relay threads", "threads", 0, 0)
    row("window event loop, longest gap (ms)", "window_gap_ms", 1, 0)

    # Chart data: one row per pattern; per relay the median, min and max of CPU per delivery and
    # of throughput.
    for (p = 1; p <= 3; ++p) {
        line = "\"" patName[p] "\""
        for (k = 1; k <= 2; ++k) {
            metric = pat[p] (k == 1 ? "_cpu_ns_per_delivery" : "_deliveries_per_s")
            for (i = 1; i <= nr; ++i) {
                n = collect(rel[i], metric)
                if (n == 0) { line = line " NaN NaN NaN"; continue }
                summary(n, 0, "")
                line = line " " med " " vals[1] " " vals[n]
            }
        }
        print line > chart
    }
}' "$data/figures_$clients"

chart_file=docs/relay_bench_$clients.png
gnuplot -e "data='$data/chart.dat'; out='$chart_file'; n=$clients; runs=$runs; relays='$relays'" \
    bench/relay_chart.gp
echo "Chart: $chart_file"
}

for clients in $sizes; do
    report "$clients"
done
