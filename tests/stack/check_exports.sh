#!/usr/bin/env bash
# The library's dynamic symbol table holds the stack operations and nothing else.
set -euo pipefail
lib=$1; ops=$2
exported=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TWBDRV]$/ {print $3}' | sort)
expected=$("$ops" | sort)
if [ "$exported" != "$expected" ]; then
  echo "exported symbols differ from the operation list:"
  diff <(echo "$expected") <(echo "$exported") || true
  exit 1
fi
echo "$(echo "$expected" | wc -l) operations exported, nothing else"
