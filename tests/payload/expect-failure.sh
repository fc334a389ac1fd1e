#!/bin/sh
# Runs a command that must fail:  expect-failure.sh PATTERN COMMAND [ARG...]
# Passes only when the command exits non-zero and its output (standard output and error) contains PATTERN.
set -u
pattern=$1; shift
out=$("$@" 2>&1)
rc=$?
printf '%s\n' "$out"
if [ "$rc" -eq 0 ]; then
  echo "expect-failure: the command succeeded, but it must fail" >&2
  exit 1
fi
if ! printf '%s\n' "$out" | grep -qF -- "$pattern"; then
  echo "expect-failure: exit status $rc, but the output lacks: $pattern" >&2
  exit 1
fi
echo "expect-failure: failed as expected (exit status $rc)"
