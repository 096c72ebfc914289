#!/usr/bin/env bash
# Builds quorbin and runs every test: the suite with warnings as errors, the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, and a short
# run of each fuzz harness (FUZZ_SECONDS each, default 30).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh clang libclang-rt-14-dev
cmake --workflow --preset ci
cmake --workflow --preset asan
cmake --workflow --preset fuzz
bash fuzz/run.sh "${FUZZ_SECONDS:-30}"
