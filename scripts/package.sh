#!/usr/bin/env bash
# Installs what is missing, builds Quillora for release and makes the Debian
# package dist/quillora_<version>_amd64.deb (in build-release/, without tests).
# Then lintian reports on the package.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$#" -ne 0 ]; then
  echo "usage: $0" >&2
  exit 2
fi

./scripts/install-deps.sh

dir=build-release
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORA_TESTS=OFF -DQUILLORA_BENCH=OFF
cmake --build "$dir" -j "$jobs"

rm -rf "$dir/package"
cpack --config "$dir/CPackConfig.cmake" -B "$dir/package"
mkdir -p dist
for deb in "$dir"/package/*.deb; do
  mv -f "$deb" dist/
  echo "Package: dist/$(basename "$deb")"
  lintian --info "dist/$(basename "$deb")"
done
