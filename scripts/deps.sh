#!/usr/bin/env bash
# Installs the Debian packages the build, tests and benchmarks need, when any is missing
# (chromium: a test loads amisim's report.html in a headless browser; parallel, slurm-wlm and
# munge: tests run amisim's sweep plans through GNU parallel and a one-node Slurm cluster).
set -euo pipefail
pkgs=(g++ cmake ninja-build pkg-config libboost-dev libgsl-dev libgtest-dev libgmock-dev
      libbenchmark-dev libcli11-dev nlohmann-json3-dev libcairo2-dev libfftw3-dev
      clang libclang-rt-dev chromium parallel slurm-wlm munge)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
