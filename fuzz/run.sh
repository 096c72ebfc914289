#!/usr/bin/env bash
# Runs the fuzz harnesses for a while each, starting from the committed seeds.
#   fuzz/run.sh SECONDS [HARNESS ...]      default: every harness
# Needs the fuzz preset built (cmake --workflow --preset fuzz).  The growing
# corpora live in fuzz/out/<harness>/ (not committed); findings are written to
# fuzz/out/ as <harness>-crash-* (or -slow-unit-, -timeout-) files, and the run
# fails.  fuzz/regressions/<harness>/ holds earlier findings, run as seeds.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:?usage: fuzz/run.sh SECONDS [HARNESS ...]}
shift
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(decoder roundtrip image listfile options bmpread pngread)
build=build/fuzz/fuzz
"$build/make_corpus" fuzz/corpus
for h in "${harnesses[@]}"; do
    mkdir -p "fuzz/out/$h"
    dict=()
    [ -f "fuzz/$h.dict" ] && dict=("-dict=fuzz/$h.dict")
    seeds=("fuzz/corpus/$h")
    [ -d "fuzz/regressions/$h" ] && seeds+=("fuzz/regressions/$h")
    log="fuzz/out/$h.log"
    if ! "$build/${h}_fuzz" "fuzz/out/$h" "${seeds[@]}" "${dict[@]}" -max_total_time="$seconds" \
        -max_len=70000 -rss_limit_mb=4096 -timeout=10 -artifact_prefix="fuzz/out/$h-" -print_final_stats=1 \
        >"$log" 2>&1; then
        echo "== $h: FINDING" && tail -40 "$log"
        exit 1
    fi
    echo "== $h: $(grep -a -E '^#[0-9]+.*DONE' "$log" | tail -1)"
    grep -a -E 'stat::number_of_executed_units|stat::average_exec_per_sec' "$log" | tr '\n' ' '
    echo
done
