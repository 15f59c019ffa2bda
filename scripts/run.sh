#!/usr/bin/env bash
# Installs what is missing, builds Quillora and starts it.
#
# The program gets a SANE configuration of its own (build/sane/): every
# backend the system's SANE uses, plus SANE's "test" backend, whose two
# virtual scanners let a person without a scanner try scanning at once.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
./scripts/build.sh

conf="$PWD/build/sane"
mkdir -p "$conf"
{
  echo "# Made by scripts/run.sh: the system's backends and the test backend."
  if [ -r /etc/sane.d/dll.conf ]; then
    sed -e 's/#.*//' -e 's/[[:space:]]*$//' /etc/sane.d/dll.conf | grep -v '^$' | grep -vx 'test' || true
  fi
  echo "test"
} > "$conf/dll.conf.new"
mv "$conf/dll.conf.new" "$conf/dll.conf"
cp scripts/sane/test.conf "$conf/test.conf"
# The trailing colon: every other backend's configuration (and dll.d, where
# sane-airscan enters) still comes from the system's folder.
export SANE_CONFIG_DIR="$conf:"
exec ./build/bin/quillora "$@"
