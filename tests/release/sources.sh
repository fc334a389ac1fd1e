#!/bin/sh
# Sourced by the release tests: copy_sources SOURCE DEST makes DEST a git repository of its own whose one commit is
# SOURCE's tree as it is now (changed and new files included, ignored ones not), so that the release command
# sees a clean checkout of exactly the code under test.
copy_sources() {
  mkdir -p "$2"
  (cd "$1" && git ls-files -z -co --exclude-standard | tar --null -T - --ignore-failed-read -cf - 2>/dev/null) |
    tar -C "$2" -xf -
  git -C "$2" init -q && git -C "$2" add -A &&
    git -C "$2" -c user.name=test -c user.email=test@example.invalid commit -qm "the tree under test"
}
