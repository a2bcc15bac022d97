#!/usr/bin/env bash
# plugin-check as an author runs it: on a library that keeps the contract,
# on one broken variant per kind of fault (each must fail exactly the check
# that sees it, and the report must go on), on the tree's own plug-in, and
# with a --json report.
#
#   plugin_check_test.sh PLUGIN_CHECK FIXTURE_DIR TREE_PLUGIN [EXT [RUNNER...]]
#
# EXT is the libraries' extension (so, or dll for the Windows build, whose
# plugin-check.exe RUNNER, scripts/wine-run with its options, starts).
set -uo pipefail
plugin_check="$1" fixtures="$2" tree_plugin="$3" ext="${4:-so}"
runner=("${@:5}")
failures=0
fail() { echo "plugin_check_test: FAILED: $*" >&2; failures=$((failures + 1)); }
# A Windows console program ends its lines with CR LF: what it printed is
# compared line by line without the CR. The exit status is the checker's
# (pipefail).
checker() {
  if [ "${#runner[@]}" -gt 0 ]; then
    bash "${runner[@]}" "$plugin_check" "$@" | tr -d '\r'
  else
    "$plugin_check" "$@" | tr -d '\r'
  fi
}
all_checks="export handshake incompatible-host records start-stop hostile-requests concurrent-calls lifecycle"

# expect VARIANT "FAILING CHECKS" [EXTRA ARGS]: every other check passes.
expect() {
  local variant="$1" failing="$2"
  shift 2
  local library="$fixtures/vbp-be-minimal-$variant.$ext" out status
  out="$(checker --export load_minimal "$@" "$library" 2>&1)"
  status=$?
  local want_status=0
  [ -n "$failing" ] && want_status=1
  [ "$status" = "$want_status" ] || fail "$variant: exit status $status, expected $want_status"$'\n'"$out"
  local failed_count=0
  for check in $all_checks; do
    local verdict=PASS
    if [[ " $failing " == *" $check "* ]]; then verdict=FAIL; failed_count=$((failed_count + 1)); fi
    grep -qE "^$verdict $check " <<< "$out" || fail "$variant: expected $verdict $check"$'\n'"$out"
  done
  local total
  total=$(wc -w <<< "$all_checks")
  grep -qx "$((total - failed_count)) passed, $failed_count failed" <<< "$out" \
    || fail "$variant: wrong summary"$'\n'"$out"
  echo "$out"
}

expect good ""
expect double-release "hostile-requests"
expect bad-route "records"
expect second-export "export"
expect ignores-version "incompatible-host"
# A crash or a hang ends only the check that met it.
# The report names the fault and where it happened, from the child itself:
# the exception and the module with the offset in it on Windows, the signal
# natively; never the text of Wine's own debugger.
out="$(expect crashes "hostile-requests")"
if [ "$ext" = dll ]; then
  crash_pattern="crashed: exception 0xC0000005 \(EXCEPTION_ACCESS_VIOLATION\), reading address 0x[0-9a-f]+, in vbp-be-minimal-crashes\.dll\+0x[0-9a-f]+"
else
  crash_pattern="crashed: signal 11 \(SIGSEGV\), address 0x[0-9a-f]+, in vbp-be-minimal-crashes\.so\+0x[0-9a-f]+"
fi
grep -qE "^FAIL hostile-requests .*$crash_pattern" <<< "$out" || fail "crashes: the fault is not named"$'\n'"$out"
! grep -qE "wine:|starting debugger|Host system|Unhandled" <<< "$out" || fail "crashes: Wine's crash text in the report"$'\n'"$out"
out="$(expect hangs "hostile-requests" --timeout 2)"
grep -qE "^FAIL hostile-requests .*did not finish within 2 s" <<< "$out" || fail "hangs: no time-out reported"$'\n'"$out"
expect leaks "lifecycle"

# What the plug-in logs counts only under --strict: then every check during
# which it logged a warning or an error fails, with the lines (one line each,
# whatever the text holds) and not its line of news; a plug-in that logs
# nothing passes as before.
expect logs-warnings ""
out="$(expect logs-warnings "start-stop hostile-requests concurrent-calls lifecycle" --strict)"
logged="it logged (--strict): warning 'no word list found; echoing every word'; error 'stopped before the word list was saved'"
grep -qF "clean: asked the host 0 times, released every answer once, withdrew 0 subscriptions; $logged" <<< "$out" \
  || fail "logs-warnings: the lines are not shown"$'\n'"$out"
grep -qE "^FAIL lifecycle .*; and [0-9]+ more$" <<< "$out" || fail "logs-warnings: many lines are not counted"$'\n'"$out"
! grep -q "started" <<< "$out" || fail "logs-warnings: a line of news counts"$'\n'"$out"
expect good "" --strict

# --json for tools: one document with every check.
json="$(checker --export load_minimal --json "$fixtures/vbp-be-minimal-leaks.$ext")"
python3 - "$json" <<'PY' || fail "--json: $json"
import json, sys
report = json.loads(sys.argv[1])
assert report["passed"] == 7 and report["failed"] == 1, report
assert [c["name"] for c in report["checks"] if not c["passed"]] == ["lifecycle"], report
assert all(c["detail"] for c in report["checks"]), report
PY

# The tree's plug-in: the export from its file name, the host answers its
# start-up asks for, from its answers file (whose option lines are
# plugin-host's) or given one by one.
tree_answers="$(dirname "$0")/../../plugin/host-answers.txt"
# With them it logs nothing worth a warning either.
checker --strict --host-answers "$tree_answers" "$tree_plugin" || fail "the tree's plug-in with its answers file"
checker --check start-stop --host-answer '/korvoclient/get_region_locale={"region":"QUORVEX","locale":"en_US"}' \
  --host-answer '/korvoclient/command-line-args=[]' "$tree_plugin" || fail "the tree's plug-in"

# A bad answers file is a usage error that names its line.
bad_answers="$(mktemp)"
printf '/a=1\n\n/korvoclient/command-line-args=[\n' > "$bad_answers"
out="$(checker --host-answers "$bad_answers" "$tree_plugin" 2>&1)"
[ $? = 2 ] && grep -q "^plugin-check: $bad_answers:3: the answer for /korvoclient/command-line-args is not JSON" <<< "$out" \
  || fail "a bad answers file"$'\n'"$out"
rm -f "$bad_answers"

# Without its answers it does not start, and says what is missing.
out="$(checker --check start-stop "$tree_plugin")"
[ $? = 1 ] && grep -q -- "--host-answer" <<< "$out" || fail "a plug-in that does not start"$'\n'"$out"

# --help says what --strict does.
out="$(checker --help)"
[ $? = 0 ] && grep -q -- "--strict .*warning or an error" <<< "$out" || fail "--help"$'\n'"$out"

# Not a library at all, and usage errors.
not_library="$(mktemp)"
echo "not a library" > "$not_library"
out="$(checker --export load_x "$not_library" 2>&1)"
[ $? = 1 ] && grep -q "^FAIL export .*neither an ELF nor a PE file" <<< "$out" && grep -qx "0 passed, 8 failed" <<< "$out" \
  || fail "a file that is no library"$'\n'"$out"
rm -f "$not_library"
for arguments in "" "--check nothing x.so" "--timeout 0 x.so" "--host-answer nojson x.so" "a.so b.so"; do
  # shellcheck disable=SC2086
  checker $arguments > /dev/null 2>&1
  [ $? = 2 ] || fail "usage error not reported for '$arguments'"
done

[ "$failures" = 0 ] && echo "plugin_check_test: all cases passed"
[ "$failures" = 0 ]
