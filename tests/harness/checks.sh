#!/bin/sh
# Sourced by the shell tests: a failed check is reported and counted, and the test goes on with the next one, so a
# run shows every failure at once.
#   fail TEXT        one "FAIL: TEXT" line, counted in $failures
#   finish SUMMARY   SUMMARY when nothing failed; the status is 0 only then (the script's last command)
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
finish() {
  [ "$failures" -eq 0 ] && echo "$1"
  [ "$failures" -eq 0 ]
}
