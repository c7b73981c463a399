#!/usr/bin/env bash
# Builds the model kit with its generated database and runs the default 10.3125 Gb/s link
# through both models with amisim, in statistical and time-domain mode.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
out=${1:-demo-out}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "${JOBS:-2}"
./build/tools/amisim/amisim --kit build/kit --out "$out"
echo "Report and pictures written to $out/"
