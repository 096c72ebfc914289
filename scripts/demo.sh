#!/usr/bin/env bash
# Builds quorbin and converts the bundled examples into demo-out/: the three
# KZP files named on the command line, and the archive through its list file.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --workflow --preset release
rm -rf demo-out && mkdir demo-out
cd examples
../build/release/quorbin -C ../demo-out/ -l pack.lst sunset.kzp mandel.kzp tiles.kzp
echo "BMP files written to demo-out/:" && ls ../demo-out
