#!/usr/bin/env bash
# Formats the C and C++ sources of the tree with .clang-format (top folder).
#
#   bash scripts/format.sh            rewrites every file that differs
#   bash scripts/format.sh --check    lists the files that differ, changes
#                                     nothing; exit 1 when there are any
#   bash scripts/format.sh [--check] FILE...   only these files
#
# The files are the tracked *.c, *.cpp and *.h (build folders and anything
# untracked stay out), less EXCLUDED below. The layout of the output depends
# on the clang-format version: the one this file was made for is 14
# (CLANG_FORMAT names another binary).
set -euo pipefail
cd "$(dirname "$0")/.."

# Laid out by hand and kept so:
# - stack/include/zorvan: the exported C interface, its records and
#   operation signatures aligned in columns (and checked against the 32-bit
#   layout); reading it is what it is for.
EXCLUDED='^stack/include/zorvan/'

CLANG_FORMAT=${CLANG_FORMAT:-clang-format-14}
if ! command -v "$CLANG_FORMAT" >/dev/null 2>&1; then
  echo "format.sh: $CLANG_FORMAT not found (Debian package clang-format-14; scripts/install-deps.sh installs it)" >&2
  exit 2
fi
if [ ! -f .clang-format ]; then
  echo "format.sh: no .clang-format in $(pwd)" >&2
  exit 2
fi

check=0
if [ "${1:-}" = --check ]; then
  check=1
  shift
fi
case "${1:-}" in -*) echo "usage: bash scripts/format.sh [--check] [FILE...]" >&2; exit 2 ;; esac

files=()
if [ $# -gt 0 ]; then
  files=("$@")
else
  while IFS= read -r f; do files+=("$f"); done < <(git ls-files -- '*.c' '*.cpp' '*.h' | grep -Ev "$EXCLUDED")
fi
if [ ${#files[@]} -eq 0 ]; then
  echo "format.sh: no files" >&2
  exit 2
fi

if [ $check -eq 0 ]; then
  printf '%s\0' "${files[@]}" | xargs -0 -n 50 "$CLANG_FORMAT" -i --style=file
  exit 0
fi

differ=0
for f in "${files[@]}"; do
  if ! "$CLANG_FORMAT" --style=file "$f" | cmp -s - "$f"; then
    echo "$f"
    differ=$((differ + 1))
  fi
done
if [ $differ -gt 0 ]; then
  echo "format.sh: $differ of ${#files[@]} files differ from .clang-format" >&2
  exit 1
fi
