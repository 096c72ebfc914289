#!/usr/bin/env bash
# install_test.sh BUILD_DIR SOURCE_DIR: the installed programs convert the
# installed examples, one comes back the same through PNG and one goes back
# into a copy of the archive; the manual pages render without
# warnings and their DIAGNOSTICS name every message of archive/messages.h.
set -euo pipefail
build=$1 source=$2 scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
bin=$scratch/prefix/bin man=$scratch/prefix/share/man/man1
cd "$scratch/prefix/share/doc/quorbin/examples"
"$bin/quorbin" -C "$scratch/" -l pack.lst tiles.kzp >"$scratch/stdout" 2>/dev/null
"$bin/quorbin" -f png -C "$scratch/" tiles.kzp >>"$scratch/stdout" 2>/dev/null
(cd "$scratch" && "$bin/quorbin-pack" tiles.png && mkdir again && "$bin/quorbin" -C again/ tiles.kzp) >>"$scratch/stdout" 2>/dev/null
# An edited picture back into a copy of the archive, in place: its permission bits stay.
cp pack.dat pack.lst "$scratch/again/" && chmod 604 "$scratch/again/pack.dat"
printf '\001' | dd of="$scratch/title.bmp" bs=1 seek=2000 conv=notrunc status=none
(cd "$scratch/again" && "$bin/quorbin-pack" -A -l pack.lst ../title.bmp) >>"$scratch/stdout" 2>/dev/null
cmp -s pack.dat "$scratch/again/pack.dat" && fail "the edited picture did not go back"
[ "$(stat -c %a "$scratch/again/pack.dat")" = 604 ] || fail "the archive put back lost its permission bits"
[ "$(grep -c ' \.\.\. OK$' "$scratch/stdout")" = 8 ] || fail "installed examples: $(cat "$scratch/stdout")"
cmp "$scratch/tiles.bmp" "$scratch/again/tiles.bmp" || fail "tiles.bmp does not come back through PNG"
diagnostics=
for page in "$man/quorbin.1" "$man/quorbin-pack.1"; do
    [ -z "$(groff -man -ww -z "$page" 2>&1)" ] || fail "groff warns on $page"
    diagnostics+=$(groff -man -Tascii -P-cbou -rLL=500n -rHY=0 "$page" | sed -n '/^DIAGNOSTICS/,/^EXIT STATUS/p')
done
# Each line of each message, its placeholders matching anything.
grep -o '"[^"]*"' "$source/archive/messages.h" | sed 's/^"//; s/"$//; s/\\n$//' | while IFS= read -r message; do
    pattern=$(printf '%s' "$message" | sed 's/[][\.*^$+?(){}|]/\\&/g; s/%[0-9.\\]*l*[scduxf]/.*/g; s/%%/%/g')
    grep -q -E -- "$pattern" <<<"$diagnostics" || fail "DIAGNOSTICS does not name: $message"
done
