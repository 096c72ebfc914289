#!/usr/bin/env bash
# Whole-process timings: `quorbin FILE` on a 2048x2048 photo-like KZP file
# against the straightforward build of the same job, `quorbin-pack` on the
# BMP files of every 2048x2048 sample kind, and a 10,000-entry list file.
# Needs the bench preset built (cmake --workflow --preset bench).
#   bench/whole_process.sh [OTHER_QUORBIN]   OTHER_QUORBIN: a second build to
#                                            time on the list file, e.g. an
#                                            older commit's
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Average wall time in milliseconds of N runs, after three warm-up runs.
average_ms() {
    local n=$1; shift
    for _ in 1 2 3; do "$@" >/dev/null 2>&1; done
    local start end
    start=$(date +%s%N)
    for ((i = 0; i < n; i++)); do "$@" >/dev/null 2>&1; done
    end=$(date +%s%N)
    echo "scale=2; ($end - $start) / $n / 1000000" | bc
}

"$build/bench/decode_bench" --write photo photo.kzp
: >empty.kzp
fast=$(average_ms 100 "$build/quorbin" photo.kzp)
base=$(average_ms 30 "$build/bench/baseline_job" photo.kzp baseline.bmp)
idle=$(average_ms 100 "$build/quorbin" empty.kzp)
cmp -s photo.bmp baseline.bmp || { echo "the two builds wrote different files" >&2; exit 1; }
echo "quorbin photo.kzp: $fast ms; straightforward build: $base ms; ratio $(echo "scale=3; $fast / $base" | bc)"
echo "quorbin on an empty file (process start and exit): $idle ms"
for run in photo empty; do
    /usr/bin/time -f "$run.kzp: peak RSS %M KiB" "$build/quorbin" $run.kzp 2>&1 >/dev/null | tail -1
done

# quorbin-pack, reading the BMP file and writing the KZP file included: MB/s
# of decoded image (2048 x 2048 + 1032 bytes).
for kind in flat photo dithered noise two three four mask; do
    "$build/bench/decode_bench" --write $kind $kind.kzp
    "$build/quorbin" $kind.kzp >/dev/null 2>&1
    ms=$(average_ms 5 "$build/quorbin-pack" $kind.bmp)
    echo "quorbin-pack $kind.bmp: $ms ms, $(echo "scale=1; 4195336 / $ms / 1000" | bc) MB/s"
done

"$build/bench/decode_bench" --archive "$work" 10000
# Steady state: every output already exists, as when an archive is converted
# again; the builds take turns so that file-system noise hits both alike.
mkdir out
"$build/quorbin" -C out/ -l many.lst >/dev/null 2>&1
for round in 1 2 3; do
    for binary in "$build/quorbin" "$@"; do
        start=$(date +%s%N)
        "$binary" -C out/ -l many.lst >/dev/null 2>&1
        end=$(date +%s%N)
        echo "round $round, $binary, 10,000 entries: $(((end - start) / 1000000)) ms"
    done
done

# Entries at once: the examples' list repeated to 2,001 entries (each name
# 667 times, so that the entries of one name run one after another), and the
# same with every entry's name its own, one at a time and on every core.
cp "$root/examples/pack.dat" .
for _ in $(seq 667); do cat "$root/examples/pack.lst"; done >repeated.lst
awk '{ sub(/\.kzp$/, NR ".kzp", $4); print }' repeated.lst >unique.lst
for list in repeated unique; do
    for format in bmp png; do
        rm -rf jobs && mkdir jobs
        one=$(average_ms 3 "$build/quorbin" -j 1 -f $format -C jobs -l $list.lst)
        all=$(average_ms 3 "$build/quorbin" -f $format -C jobs -l $list.lst)
        echo "$list.lst, $format: -j 1 $one ms, every core ($(nproc)) $all ms," \
            "ratio $(echo "scale=2; $all / $one" | bc)"
    done
done

# quorbin-pack -l: one 2048x2048 picture back into a 100 MB archive, against
# copying the archive (cp) plus packing the picture as a loose file.  The
# archive: the photo-like picture compressed greedily (as old game tools
# did), then random bytes.  Every run replaces a file of 100 MB, as cp does
# (quorbin-pack flushes it to the disk first: against cp and sync too): in
# place, and a copy in another directory.
"$build/quorbin" photo.kzp >/dev/null 2>&1
"$build/bench/decode_bench" --greedy photo photo-greedy.kzp
size=$(stat -c %s photo-greedy.kzp)
{ cat photo-greedy.kzp; head -c $((100000000 - size)) /dev/urandom; } >big.dat
echo "big.dat 0 $size photo.kzp" >big.lst
mkdir -p copy
pack=$(average_ms 5 "$build/quorbin-pack" photo.bmp)
cp_ms=$(average_ms 5 cp big.dat copy.dat)
cp_sync=$(average_ms 5 sh -c 'cp big.dat copy.dat && sync copy.dat')
in_place=$(average_ms 5 "$build/quorbin-pack" -l big.lst photo.bmp)
copy=$(average_ms 5 "$build/quorbin-pack" -C copy -l big.lst photo.bmp)
echo "one picture into a 100 MB archive: $in_place ms in place, $copy ms into a copy;" \
    "cp $cp_ms ms + pack $pack ms = $(echo "$cp_ms + $pack" | bc) ms;" \
    "cp and sync $cp_sync ms + pack = $(echo "$cp_sync + $pack" | bc) ms"
