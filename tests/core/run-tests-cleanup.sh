#!/usr/bin/env bash
# scripts/run-tests leaves no scratch folder behind: after a passing run, a
# failing one and one interrupted by SIGTERM.
set -u
script=${1:?usage: run-tests-cleanup.sh RUN_TESTS}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/build" "$tmp/scratch"
echo 'add_test(slow /bin/sleep 30)' > "$tmp/build/CTestTestfile.cmake"
leftover() { [ -n "$(ls -A "$tmp/scratch")" ] && { echo "left behind after $1: $(ls "$tmp/scratch")"; exit 1; }; }

TMPDIR=$tmp/scratch bash "$script" "$tmp/build" -R nothing >/dev/null 2>&1 || { echo "empty run failed"; exit 1; }
leftover "a passing run"
TMPDIR=$tmp/scratch bash "$script" "$tmp/missing" >/dev/null 2>&1 && { echo "a missing folder passed"; exit 1; }
leftover "a failing run"
TMPDIR=$tmp/scratch bash "$script" "$tmp/build" >/dev/null 2>&1 &
run=$!
for _ in $(seq 100); do [ -n "$(ls -A "$tmp/scratch")" ] && break; sleep 0.05; done
sleep 0.5
kill -TERM "$run"
wait "$run"
leftover "SIGTERM"
exit 0
