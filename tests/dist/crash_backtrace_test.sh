#!/usr/bin/env bash
# A crash in the shipped DLL, as a host developer reads it: crash-host makes
# the stripped DLL fault inside its request callback, Wine starts its
# debugger (winedbg --auto, the default AeDebug entry of a prefix), and the
# backtrace it prints must name the plug-in's function for the DLL's frame,
# which only the PDB beside the DLL can tell it.
#
#   crash_backtrace_test.sh [--win64] CRASH_HOST DLL PDB WORK
#
# The product is 32-bit: without --win64 the programs run under 32-bit Wine,
# and the test is skipped (exit 77) where this machine cannot execute 32-bit
# programs. --win64 runs an x86_64 build of the same programs under wine64.
# WORK keeps the Wine prefix between runs and each case's folder and log.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
wine_run=(bash "$root/scripts/wine-run")
if [ "${1:-}" = --win64 ]; then
  shift
  wine_run+=(--win64)
elif ! bash "$root/scripts/can-run-32bit"; then
  echo "crash_backtrace_test: skipped: this machine cannot execute 32-bit programs (scripts/can-run-32bit)"
  exit 77
fi
[ $# -eq 4 ] || { echo "usage: crash_backtrace_test.sh [--win64] CRASH_HOST DLL PDB WORK" >&2; exit 2; }
host="$1" dll="$2" pdb="$3"
work="$(mkdir -p "$4" && cd "$4" && pwd)"
module="$(basename "$dll" .dll)"

# A prefix of its own: its AeDebug entry is Wine's default, whatever other
# tests do to theirs, and waiting for it to be idle waits for this test only.
export WINEPREFIX="$work/wineprefix"
# Quiet for Wine's own channels, which the debugger inherits too. The crash
# report is none of them: ntdll's "Unhandled page fault ... starting
# debugger" line and winedbg's report (its own output, inherited from the
# program) are printed under -all, so the log holds the report and little
# else. A channel such as +dbghelp would show where the PDB was looked for.
export WINEDEBUG=-all
wineserver=wineserver
command -v wineserver >/dev/null || wineserver=/usr/lib/wine/wineserver

# name | fault (crash_host.cpp) | the PDB beside the DLL | the DLL's frame
# that must be named: "top" the faulting one, "any" one below the C runtime's
# | what it must be called, or "nothing" for no plug-in name at all.
cases=(
  "in-callback|user-data|yes|top|HttpBaseTransport(::|[0-9]+)FunctionCallback"
  "in-runtime|path|yes|any|HttpBaseTransport(::|[0-9]+)(DispatchCall|FunctionCallback)"
  # The control: without the PDB the stripped DLL names nothing, so the
  # names above came from the PDB.
  "without-pdb|user-data|no|top|nothing"
)

failures=0
for case in "${cases[@]}"; do
  IFS='|' read -r name fault with_pdb frame expected <<<"$case"
  folder="$work/$name"
  rm -rf "$folder"
  mkdir -p "$folder"
  cp "$host" "$dll" "$folder/"
  [ "$with_pdb" = no ] || cp "$pdb" "$folder/"
  log="$folder/crash.log"
  status=0
  (cd "$folder" && "${wine_run[@]}" "$(basename "$host")" "Z:${folder//\//\\}\\$(basename "$dll")" "$fault") \
    >"$log" 2>&1 || status=$?
  # The debugger writes into the log after the program has gone: wait until
  # every process of the prefix has ended.
  "$wineserver" -w

  # Windows programs, the debugger among them, may end their lines with
  # CR LF: the log is read without the CR.
  tr -d '\r' < "$log" > "$log.lf" && mv "$log.lf" "$log"

  problem=""
  # The program's frames: "=>0 0x... NAME+0x..(args) [FILE:LINE] in MODULE (0x...)"
  # for the faulting one, "  1 0x... ..." below it (inlined frames end at
  # the module's name).
  frames="$(sed -n '/^Backtrace:/,/^[^ =]/p' "$log" | grep -E '^(=>| +)[0-9]+ 0x' || true)"
  in_module=" in $module( |\$)"
  ours="$(grep -E "$in_module" <<<"$frames" || true)"
  # Not by its exit status: that of a process the debugger ends is whatever
  # the debugger's exit leaves it.
  if ! grep -q '^crash-host: calling' "$log"; then
    problem="crash-host failed before the bad call (status $status)"
  elif grep -q '^crash-host: the call returned' "$log"; then
    problem="the bad call returned instead of faulting"
  elif [ -z "$frames" ]; then
    problem="no backtrace: the debugger did not run or printed nothing"
  elif [ -z "$ours" ]; then
    problem="no frame of the backtrace lies in $module"
  elif [ "$frame" = top ] && ! head -n 1 <<<"$frames" | grep -qE "$in_module"; then
    problem="the faulting frame does not lie in $module"
  fi
  if [ -z "$problem" ]; then
    [ "$frame" = any ] || ours="$(head -n 1 <<<"$frames")"
    if [ "$expected" = nothing ]; then
      ! grep -qE 'Korvo|HttpBaseTransport' <<<"$ours" || problem="a plug-in function is named without its PDB"
    elif ! grep -qE "$expected" <<<"$ours"; then
      problem="the frame in $module is not named $expected"
    fi
  fi

  if [ -n "$problem" ]; then
    echo "crash_backtrace_test: $name ($fault at 0x10, PDB: $with_pdb): $problem; the log ($log):"
    cat "$log"
    failures=$((failures + 1))
  else
    echo "crash_backtrace_test: $name ($fault at 0x10, PDB: $with_pdb): passed; the frames in $module:"
    sed 's/^/    /' <<<"$ours"
    # The source line is not required (the PDB's line tables are
    # scripts/check-pdb's), but said when it is missing.
    [ "$expected" = nothing ] || grep -qE '\[[^]]+\.(cpp|h):[0-9]+\]' <<<"$ours" \
      || echo "crash_backtrace_test: $name: note: no source file and line in the frame"
  fi
done
exit $((failures > 0))
