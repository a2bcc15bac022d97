#!/usr/bin/env bash
# The tree bytes beside RapidJSON's Document for a 32-bit x86 build: the SDK
# sources the JSON reader needs and bench/tree_bytes.cpp, compiled by Debian's
# i686 Linux cross compiler with -malign-double (doubles and 64-bit integers
# 8-aligned inside records, as in the Windows ABI the product is built for)
# and linked statically, run natively where the machine runs 32-bit programs
# and under qemu-i386 where it does not. (The cross compiler keeps its C
# library in /usr/i686-linux-gnu; the multilib packages would put 32-bit
# glibc headers in /usr/include, where the Windows cross build finds them.)
# Bytes do not depend on speed, so an emulated run gives the same figures;
# nothing here is timed.
#   bench/tree_bytes_32bit.sh [build-dir]     (default build/tree-bytes-32)
# Needs g++-i686-linux-gnu and, without 32-bit support in the kernel,
# qemu-user (scripts/install-deps installs both).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:-$root/build/tree-bytes-32}"
mkdir -p "$out/objects"

compiler=i686-linux-gnu-g++
flags=(-malign-double -std=c++20 -O2 -DNDEBUG -w -I"$root")
sources=(
  sdk/platform/platform_posix.cpp sdk/platform/platform_shared.cpp
  sdk/allocation/allocation.cpp
  sdk/records/host_value.cpp sdk/records/memory_stats.cpp
  sdk/diagnostics/assertion.cpp sdk/diagnostics/format.cpp sdk/diagnostics/log.cpp sdk/diagnostics/log_line.cpp
  sdk/diagnostics/log_target.cpp sdk/diagnostics/logger.cpp sdk/diagnostics/event_tracing.cpp
  sdk/values/*.cpp sdk/binding/*.cpp
  sdk/formats/json_reader.cpp
  bench/bench_data.cpp
)
cd "$root"
objects=()
stale=()
for source in ${sources[@]}; do
  object="$out/objects/$(echo "$source" | tr / _).o"
  objects+=("$object")
  if [ ! -e "$object" ] || [ "$source" -nt "$object" ]; then stale+=("$source"); fi
done
printf '%s\n' "${stale[@]}" | xargs -r -P "$(nproc)" -I{} sh -c 'i686-linux-gnu-g++ "$@" -DKORVO_BENCH_DATA_DEFAULT="\"$0/bench/data\"" -c "{}" -o "'"$out"'/objects/$(echo {} | tr / _).o"' "$root" "${flags[@]}"
rm -f "$out/libsdk32.a"
i686-linux-gnu-ar rcs "$out/libsdk32.a" "${objects[@]}"
"$compiler" "${flags[@]}" -static bench/tree_bytes.cpp "$out/libsdk32.a" -lpthread -o "$out/tree_bytes"

if "$root/scripts/can-run-32bit" >/dev/null 2>&1; then
  "$out/tree_bytes"
elif command -v qemu-i386 >/dev/null; then
  echo "(32-bit programs do not run on this machine: under qemu-i386)"
  qemu-i386 "$out/tree_bytes"
else
  echo "tree_bytes_32bit: this machine runs no 32-bit program and has no qemu-i386 (apt install qemu-user)" >&2
  exit 1
fi
