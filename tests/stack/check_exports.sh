#!/usr/bin/env bash
# The library's dynamic symbol table holds the stack operations and nothing else,
# and the operation list has the expected length (the 54 of the application's
# interface and the two log queries).
set -euo pipefail
lib=$1; ops=$2; count=${3:-}
exported=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TWBDRV]$/ {print $3}' | sort)
expected=$("$ops" | sort)
if [ "$exported" != "$expected" ]; then
  echo "exported symbols differ from the operation list:"
  diff <(echo "$expected") <(echo "$exported") || true
  exit 1
fi
n=$(echo "$expected" | wc -l)
if [ -n "$count" ] && [ "$n" != "$count" ]; then
  echo "the operation list has $n operations, expected $count"
  exit 1
fi
echo "$n operations exported, nothing else"
