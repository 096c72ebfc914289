#!/usr/bin/env bash
# Installs into a scratch prefix, converts an installed example and packs it
# back with the installed programs, and checks the manual pages: they render
# without warnings and their DIAGNOSTICS sections name every message in
# cli/messages.h.          install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2 scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
bin=$scratch/prefix/bin man=$scratch/prefix/share/man/man1
mkdir "$scratch/out"
(cd "$scratch/prefix/share/doc/quorbin/examples" && "$bin/quorbin" -C "$scratch/out/" -l pack.lst tiles.kzp) >"$scratch/stdout" 2>/dev/null
[ "$(grep -c ' \.\.\. OK$' "$scratch/stdout")" = 4 ] || fail "installed examples: $(cat "$scratch/stdout")"
(cd "$scratch/out" && "$bin/quorbin-pack" tiles.bmp && mkdir again && "$bin/quorbin" -C again/ tiles.kzp) >/dev/null 2>&1
cmp "$scratch/out/tiles.bmp" "$scratch/out/again/tiles.bmp" || fail "tiles.bmp does not come back from quorbin-pack"
diagnostics=
for page in "$man/quorbin.1" "$man/quorbin-pack.1"; do
    warnings=$(groff -man -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || fail "groff warns on $page: $warnings"
    diagnostics+=$(groff -man -Tascii -P-cbou -rLL=250n -rHY=0 "$page" | sed -n '/^DIAGNOSTICS/,/^EXIT STATUS/p')
done
# Each line of each message, its placeholders matching anything.
grep -o '"[^"]*"' "$source/cli/messages.h" | sed 's/^"//; s/"$//; s/\\n$//' | while IFS= read -r message; do
    [ -n "$message" ] || continue
    pattern=$(printf '%s' "$message" | sed 's/[][\.*^$+?(){}|]/\\&/g; s/%[0-9]*l*[scd]/.*/g')
    grep -q -E -- "$pattern" <<<"$diagnostics" || fail "DIAGNOSTICS does not name: $message"
done
echo "install tree and manual pages: OK"
