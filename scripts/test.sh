#!/usr/bin/env bash
# Builds quorbin and runs every test: the suite with warnings as errors, the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, a short
# run of each fuzz harness (FUZZ_SECONDS each, default 30), the web page
# (emscripten) with its tests in Node and Chromium, and the Windows build
# (mingw-w64) with its tests under Wine and its zip.  The benchmarks are
# built, not run.  The fuzzers and the Windows build compile libdeflate and
# libspng from Debian's source packages, fetched the first time.
set -euo pipefail
cd "$(dirname "$0")/.."
web=(emscripten chromium chromium-driver python3-selenium firefox-esr)
command -v npm >/dev/null || web+=(npm) # Node's own npm may be there without Debian's package
bash scripts/install-deps.sh clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix wine64 googletest \
    libz-mingw-w64-dev dpkg-dev libbenchmark-dev python3-pil pybind11-dev python3-pybind11 \
    python3-dev python3-pytest "${web[@]}"
cmake --workflow --preset ci
cmake --workflow --preset asan
cmake --workflow --preset fuzz
bash fuzz/run.sh "${FUZZ_SECONDS:-30}"
# The page, tested in Node and Chromium against native programs of its own; the Windows zip ships it.
cmake --workflow --preset web
cmake --workflow --preset windows
# The Python module quorbin, tested with pytest against the programs.
cmake --workflow --preset python
cmake --workflow --preset bench
