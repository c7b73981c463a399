#!/usr/bin/env bash
# Builds the model kit with its generated database and runs the default 10.3125 Gb/s link
# (transmitter, 20 dB lossy line, receiver) through amisim in statistical and time-domain mode.
# The kit's receiver defaults equalise by themselves: the receiver chooses its CTLE and VGA
# gains in AMI_Init, then adapts its DFE taps and recovers the clock. Extra arguments go to
# amisim (for instance --rx ctle_mode=0 --rx eqz_s1_ac_gain=12 --tx tap1=8 --tx inv_tap1=1 for
# hand-picked settings).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
out=${OUT:-demo-out}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "${JOBS:-2}"
./build/tools/amisim/amisim --kit build/kit --out "$out" "$@"
echo "Report and pictures written to $out/"
