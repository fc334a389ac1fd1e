#!/usr/bin/env bash
# The release build of this tree: Release, zopfli's smallest streams, only the setup and what it needs. It is part
# of every commit, and the release command and verify-release.sh both run the recorded commit's own copy of it, in
# an environment they fix (no compiler flags or PATH of the caller's), so that a rebuild years later follows the
# recipe of the release, not of today's tree.
#
#   bash scripts/release-build.sh SOURCE BUILD PAYLOAD
#     SOURCE   the unpacked commit (this file's tree)
#     BUILD    a new folder for the build; the unsigned setup is BUILD/src/Quillmart-Setup.exe and its link map
#              BUILD/src/Quillmart-Setup.map
#     PAYLOAD  folder with WebView2Loader.dll and Quillmart.exe, or an empty folder for the demo stand-ins
set -euo pipefail

die() { echo "release-build: $*" >&2; exit 1; }
[ $# -eq 3 ] || die "usage: release-build.sh SOURCE BUILD PAYLOAD"
source_dir=$1 build_dir=$2 payload_dir=$3

cmake -S "$source_dir" -B "$build_dir" --toolchain "$source_dir/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DQMT_PAYLOAD_DIR="$payload_dir" -DQMT_ZOPFLI=ON -DQMT_TESTS=OFF
cmake --build "$build_dir" -j2 --target Quillmart-Setup
