#!/usr/bin/env bash
# lintian finds no error in the package, and no warning that packaging/README.md does not
# explain in its table of kept warnings (section "What lintian says").
# shellcheck source=tests/packaging/lib.sh
source "$(dirname "$0")/lib.sh"
zel_package

status=0
lintian --display-info --pedantic "$deb" >"$scratch/lintian" 2>"$scratch/stderr" || status=$?
cat "$scratch/lintian"
# 0: nothing at error level, 1: something at error level (shown below); anything else: no run.
[ "$status" -le 1 ] || fail "lintian exited with $status: $(cat "$scratch/stderr")"

if grep '^E: ' "$scratch/lintian"; then
    fail "lintian reports errors"
fi
explained=$(sed -n '/^## What lintian says/,/^## /s/^| `\([a-z0-9-]*\)` |.*/\1/p' \
    "$ZEL_SOURCE_DIR/packaging/README.md")
unexplained=$(sed -n 's/^W: [^:]*: \([a-z0-9-]*\).*/\1/p' "$scratch/lintian" | sort -u |
    grep -vxF -f <(echo "${explained:-no tag explained}") || true)
[ -z "$unexplained" ] ||
    fail "warnings that packaging/README.md does not explain: $(paste -sd ' ' <<<"$unexplained")"
echo "lintian: no error; every warning explained in packaging/README.md"
