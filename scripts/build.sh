#!/usr/bin/env bash
# Configures and builds Quillora.
#   scripts/build.sh              ordinary build in build/ (program in build/bin/)
#   scripts/build.sh --sanitize   clang build with address and undefined-behaviour
#                                 sanitizers and the fuzz targets, in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

# Warnings are errors in both: the project's own builds and CI stop on them
# (a plain Release build, as packagers make, does not; see CMakeLists.txt).
dir=build
args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORA_WERROR=ON)
case "$#:${1:-}" in
  0:) ;;
  1:--sanitize)
    dir=build-asan
    args=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
          -DQUILLORA_SANITIZE=ON -DQUILLORA_FUZZ=ON -DQUILLORA_BENCH=OFF -DQUILLORA_WERROR=ON)
    ;;
  *)
    echo "usage: $0 [--sanitize]" >&2
    exit 2
    ;;
esac

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$dir" -G Ninja "${args[@]}"
cmake --build "$dir" -j "$jobs"
