#!/usr/bin/env bash
# Requests per second through the plug-in against the same server answering
# a fixed response. One plugin-host on loopback serves every case: its fixed
# answer (GET /host/fixed, which never reaches the plug-in: same listener,
# thread pool and HTTP handling), a single read, writes with a JSON body, and
# a mix of three reads to one write; also, for information, the fixed answer
# to a POST with the same body and the list of all features. wrk (from
# Debian) drives each case for DURATION seconds with the same threads and
# connections; the cases take turns within each of RUNS rounds, so a change
# in the machine's load touches all of them alike. Prints the median
# requests per second of each case, its spread over the rounds, the
# server's CPU time per request, and each case's ratio to the fixed answer
# with the verdict against 70 %. Not a test: it fails only when an answer is
# not 2xx or the host misbehaves.
#
#   bench/plugin_host_ratio.sh PLUGIN_HOST
#   RUNS=5 DURATION=5 THREADS=1 CONNECTIONS=8 FEATURES=32 bench/plugin_host_ratio.sh build/release-x/host/plugin-host
#   PLUGIN=/path/to/libvbp-be-qem-quorvex-zv.so bench/plugin_host_ratio.sh ...   # another plug-in build
#   CASES="fixed read" bench/plugin_host_ratio.sh ...                             # some of the cases
#
# PLUGIN_HOST should be a release build:
#   cmake --preset release -B build/release-x
#   cmake --build build/release-x -j2 --target plugin-host vbp-be-qem-quorvex-zv
#
# On a 2-core machine wrk and the server share the cores: one wrk thread
# (THREADS=1) takes about one core and leaves the other to the server; 8
# connections keep 8 server threads busy without making the run a test of
# the scheduler. Other load on the machine moves requests per second a lot
# (the load average is printed before and after); the server's CPU time per
# request moves far less, so the table gives the ratio of those too: the
# share of the fixed answer's throughput the server would reach if it had
# the cores to itself. Nobody listens on the event stream during the run: each
# write still sends its two events, and the host still counts them, but none
# is rendered for or queued to a client (bench/plugin_host_load.sh measures
# with listeners).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
runs="${RUNS:-5}"
duration="${DURATION:-3}"
threads="${THREADS:-1}"
connections="${CONNECTIONS:-8}"
cases="${CASES:-fixed fixed-post read write mix list}"
export FEATURES="${FEATURES:-32}"
threshold=0.70
max_duration=60

if [ "$duration" -gt "$max_duration" ]; then
  echo "plugin_host_ratio: DURATION is capped at ${max_duration}s" >&2
  duration=$max_duration
fi
command -v wrk >/dev/null || { echo "plugin_host_ratio: wrk is missing (apt-get install wrk)" >&2; exit 1; }
command -v curl >/dev/null || { echo "plugin_host_ratio: curl is missing (apt-get install curl)" >&2; exit 1; }
command -v python3 >/dev/null || { echo "plugin_host_ratio: python3 is missing" >&2; exit 1; }

host_program="${1:-}"
[ -n "$host_program" ] && [ -x "$host_program" ] || {
  echo "usage: bench/plugin_host_ratio.sh PLUGIN_HOST (a release build of plugin-host)" >&2
  exit 2
}

export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

work="$(mktemp -d)"
host_pid=""
cleanup() {
  if [ -n "$host_pid" ]; then kill "$host_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

plugin_option=()
if [ -n "${PLUGIN:-}" ]; then plugin_option=(--plugin "$PLUGIN"); fi
"$host_program" "${plugin_option[@]}" --listen 127.0.0.1 --port 0 -- --dev-quorvex-zv >"$work/out" 2>"$work/err" &
host_pid=$!
for _ in $(seq 1 200); do
  grep -q 'listening on' "$work/out" 2>/dev/null && break
  sleep 0.05
done
url="$(sed -n 's/^plugin-host: listening on \(http:[^ ]*\)$/\1/p' "$work/out")"
[ -n "$url" ] || { echo "plugin_host_ratio: plugin-host did not come up" >&2; cat "$work/err" >&2; exit 1; }

fixed_status="$(curl -s -o /dev/null -w '%{http_code}' "$url/host/fixed")"
[ "$fixed_status" = 200 ] || {
  echo "plugin_host_ratio: $host_program has no fixed answer on /host/fixed (status $fixed_status)" >&2
  exit 1
}

# Every feature exists before the reads start, so every answer is 2xx.
for i in $(seq 0 $((FEATURES - 1))); do
  curl -sf -o /dev/null -X POST "$url/qem-quorvex-zv/v1/ui-states/f$i" \
       -H 'Content-Type: application/json' -d '{"state":"new","updatedBy":"load"}'
done

clock_ticks="$(getconf CLK_TCK)"
# utime + stime of the host process, in clock ticks.
server_ticks() { awk '{ print $14 + $15 }' "/proc/$host_pid/stat"; }

echo "plugin_host_ratio: $host_program on $url"
echo "plugin_host_ratio: before: $(uptime | sed 's/.*\(load average\)/\1/')"
echo "plugin_host_ratio: $runs rounds of ${duration}s per case, wrk -t$threads -c$connections," \
     "$FEATURES features, no event-stream listener; $(nproc) cores shared by wrk and the server"

# A short warm-up: the server's threads and the plug-in's pools are grown
# before anything is measured.
CASE=mix wrk -t "$threads" -c "$connections" -d 2s -s "$here/plugin_host_ratio.lua" "$url" >/dev/null

failed=0
: >"$work/results"
for round in $(seq 1 "$runs"); do
  for case in $cases; do
    before="$(server_ticks)"
    CASE="$case" wrk -t "$threads" -c "$connections" -d "${duration}s" -s "$here/plugin_host_ratio.lua" "$url" \
      >"$work/wrk" 2>&1 || { cat "$work/wrk" >&2; exit 1; }
    after="$(server_ticks)"
    rps="$(awk '/^Requests\/sec:/ { print $2 }' "$work/wrk")"
    requests="$(awk '/ requests in / { print $1 }' "$work/wrk")"
    if grep -q 'Non-2xx or 3xx responses' "$work/wrk"; then
      echo "plugin_host_ratio: FAIL - some answers to '$case' were not 2xx" >&2
      cat "$work/wrk" >&2
      failed=1
    fi
    if grep -q 'Socket errors' "$work/wrk"; then
      echo "plugin_host_ratio: round $round, $case: $(grep 'Socket errors' "$work/wrk" | sed 's/^ *//')" >&2
    fi
    echo "$case $round $rps $requests $((after - before))" >>"$work/results"
    printf 'plugin_host_ratio: round %d  %-10s %9.0f req/s\n' "$round" "$case" "$rps"
  done
done

echo "plugin_host_ratio: after: $(uptime | sed 's/.*\(load average\)/\1/')"
python3 - "$work/results" "$clock_ticks" "$threshold" <<'EOF'
import statistics, sys
path, ticks_per_second, threshold = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
rows = {}
order = []
for line in open(path):
    case, round_, rps, requests, ticks = line.split()
    if case not in rows:
        rows[case] = []
        order.append(case)
    rows[case].append((int(round_), float(rps), int(requests), int(ticks)))
fixed = {r: rps for r, rps, _, _ in rows.get("fixed", [])}
fixed_median = statistics.median(fixed.values()) if fixed else None
judged = {"read", "write", "mix"}

def cpu_per_request(samples):
    ticks = sum(t for _, _, _, t in samples)
    return ticks / ticks_per_second * 1e6 / max(1, sum(n for _, _, n, _ in samples))

fixed_cpu = cpu_per_request(rows["fixed"]) if "fixed" in rows else None
print()
print(f"{'case':<11} {'req/s median':>12} {'min..max':>17} {'spread':>7} {'/ fixed':>8} {'per round':>15}"
      f" {'server us/req':>13} {'cpu ratio':>9}  verdict")
print("-" * 111)
for case in order:
    samples = rows[case]
    values = [rps for _, rps, _, _ in samples]
    median = statistics.median(values)
    spread = (max(values) - min(values)) / median * 100 if median else 0
    cpu = cpu_per_request(samples)
    line = f"{case:<11} {median:>12.0f} {min(values):>8.0f}..{max(values):<8.0f} {spread:>6.1f}%"
    if fixed_median and case != "fixed":
        ratio = median / fixed_median
        per_round = [rps / fixed[r] for r, rps, _, _ in samples if r in fixed]
        line += f" {ratio * 100:>7.1f}% {min(per_round) * 100:>6.1f}..{max(per_round) * 100:<6.1f}%"
        line += f" {cpu:>13.1f} {fixed_cpu / cpu * 100 if cpu else 0:>8.1f}%"
        if case in judged:
            line += f"  {'met' if ratio >= threshold else 'MISSED'} (>= {threshold * 100:.0f} %)"
    else:
        line += f" {'':>8} {'':>15} {cpu:>13.1f}"
    print(line)
print()
print("/ fixed: median req/s over the fixed answer's median; per round: the same ratio within each round;")
print("spread: (max - min) / median of the rounds; server us/req: the host process's user + system CPU time")
print("per request (wrk's own time not included); cpu ratio: the fixed answer's us/req over the case's")
EOF

stats="$(curl -sf "$url/host/stats")"
echo "plugin_host_ratio: host stats: $stats"

kill -TERM "$host_pid"
status=0
wait "$host_pid" || status=$?
host_pid=""
if [ "$status" -ne 0 ] || ! grep -q '^plugin-host: stopped$' "$work/out"; then
  echo "plugin_host_ratio: FAIL - plugin-host exited with $status on SIGTERM" >&2
  cat "$work/err" >&2
  failed=1
fi
exit "$failed"
