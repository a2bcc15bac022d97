#!/usr/bin/env bash
# Fails when a file of the repository refers to a folder outside it: a clone
# has nothing beside it, so such a path works only on the machine it was
# written on.
#   tests/repository/self_contained.sh SOURCE_DIR
#
# The files are git's tracked files when SOURCE_DIR is a checkout, else every
# file under it except build trees (an unpacked source archive).
set -euo pipefail
root="$(cd "${1:?source directory}" && pwd)"
cd "$root"
self="tests/repository/self_contained.sh"

list_files() {
  if git -C "$root" rev-parse --show-toplevel >/dev/null 2>&1 \
     && [ "$(git -C "$root" rev-parse --show-toplevel)" = "$root" ]; then
    git -C "$root" ls-files -z
  else
    find . -path ./build -prune -o -path ./.git -prune -o -type f -print0 | sed -z 's|^\./||'
  fi
}

# Paths that leave the tree: a sibling folder reached upwards, the tree's own
# parent taken from CMake, and absolute paths into the machines it was
# written on. Spelled in pieces so that this file does not match itself.
up='\.\.'
patterns=(
  "$up/shared"
  "$up/\.library"
  "/work/"
  "/home/[a-z]"
  "(PROJECT|CMAKE|CMAKE_CURRENT)_SOURCE_DIR\}/$up"
)
joined="$(IFS='|'; echo "${patterns[*]}")"

# -I: binary documents (the MessagePack corpus) cannot hold a path; -s: a
# tracked file deleted in the working tree is not there to hold one.
matches="$(list_files | grep -zvxF "$self" | xargs -0 -r grep -IsnHE "$joined" -- || true)"

if [ -n "$matches" ]; then
  echo "$matches"
  echo "self_contained: the lines above refer to folders outside the repository" >&2
  exit 1
fi
echo "self_contained: no file refers to a folder outside the repository"
