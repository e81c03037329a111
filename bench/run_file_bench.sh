#!/usr/bin/env bash
# Runs the file bench several times and prints its table: 1 GiB from one peer through our host
# to one receiver and to three at once, beside a plain copy of the same bytes through one relay
# hop made with socat, with each figure's median and the runs' range, and the machine and its
# load beside them. Installs what is missing (Debian 12) and builds in build-bench/.
# Usage: bench/run_file_bench.sh [--runs N] [--mib N] [--folder DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
bench_args=()
while (($#)); do
    case $1 in
    --runs) runs=$2 ;;
    --mib | --folder) bench_args+=("$1" "$2") ;;
    *) echo "usage: $0 [--runs N] [--mib N] [--folder DIR]" >&2 && exit 2 ;;
    esac
    shift 2
done

scripts/install_missing.sh cmake ninja-build g++ libgtest-dev libssl-dev libavahi-client-dev \
    pkg-config socat iproute2 python3
build_dir=build-bench
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" --target file_bench -j "$(nproc)" >/dev/null

data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')," \
    "$(. /etc/os-release && echo "$PRETTY_NAME"); load average before the runs:" \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
for run in $(seq "$runs"); do
    "$build_dir/bench/file_bench" "${bench_args[@]}" >"$data/run$run" 2>/dev/null ||
        echo "run_file_bench: run $run failed" >&2
done
echo "Load average after the runs: $(cut -d' ' -f1-3 /proc/loadavg)"

python3 - "$data" "$runs" <<'PY'
import glob, statistics, sys
runs = []
for path in sorted(glob.glob(sys.argv[1] + "/run*")):
    figures = dict(line.split() for line in open(path) if line.strip())
    if "chat_ratio_three" in figures:
        runs.append({k: float(v) for k, v in figures.items()})
if not runs:
    sys.exit("run_file_bench: no run finished")
def cell(key, unit="", digits=1):
    values = [run[key] for run in runs]
    fmt = f"{{:.{digits}f}}"
    return f"{fmt.format(statistics.median(values))}{unit} ({fmt.format(min(values))}-{fmt.format(max(values))})"
mib = int(runs[0]["file_mib"])
print(f"\n{len(runs)} of {sys.argv[2]} runs, {mib} MiB; median (range)\n")
print("| | plain copy (socat relay hop) | ours, 1 receiver | ours, 3 receivers (each) | goal |")
print("|---|---:|---:|---:|---|")
print(f"| rate per receiver (MB/s) | {cell('plain_mbps')} | {cell('one_mbps')} | {cell('three_mbps_each')} | |")
print(f"| ratio to the plain copy, same run | 1 | {cell('one_ratio', 'x', 2)} | {cell('three_ratio', 'x', 2)} | >= 0.8x with 1 receiver |")
print(f"| host memory growth (MiB) | - | {cell('host_growth_mib_one')} | {cell('host_growth_mib_three')} | <= 16 |")
print(f"| sender / receiver memory growth (MiB, largest) | - | {cell('sender_growth_mib')} / {cell('receiver_growth_mib')} | (both transfers) | <= 16 |")
print(f"| processor time for the 1 GiB, all processes (s) | {cell('cpu_s_plain_all', '', 2)} (three socat) | {cell('cpu_s_one_host', '', 2)} host + {cell('cpu_s_one_sender', '', 2)} sender + {cell('cpu_s_one_receiver', '', 2)} receiver | | |")
print(f"| chat fan-out p50 (us); idle room {cell('chat_p50_idle_us', '', 0)} | - | {cell('chat_p50_one_us', '', 0)} | {cell('chat_p50_three_us', '', 0)} | |")
print(f"| chat p50 ratio to the idle room | - | {cell('chat_ratio_one', 'x', 2)} | {cell('chat_ratio_three', 'x', 2)} | <= 2x |")
whole = all(run["whole"] == 1 and run["plain_whole"] == 1 for run in runs)
print(f"\nEvery file saved whole and checked in every run: {'yes' if whole else 'NO'}")
PY
