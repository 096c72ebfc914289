#!/usr/bin/env bash
# Installs quorbin into a scratch prefix, converts an installed example with the
# installed binary, and checks the manual page: it renders without warnings and
# its DIAGNOSTICS section names every message in cli/messages.h.
#   install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
bin=$scratch/prefix/bin/quorbin
page=$scratch/prefix/share/man/man1/quorbin.1
examples=$scratch/prefix/share/doc/quorbin/examples
[ -x "$bin" ] || fail "no bin/quorbin"
[ -f "$page" ] || fail "no share/man/man1/quorbin.1"

mkdir "$scratch/out"
(cd "$examples" && "$bin" -C "$scratch/out/" -l pack.lst tiles.kzp) >"$scratch/stdout" 2>/dev/null
[ "$(grep -c ' \.\.\. OK$' "$scratch/stdout")" = 4 ] || fail "installed examples: $(cat "$scratch/stdout")"
for name in title logo map tiles; do
    [ "$(head -c 2 "$scratch/out/$name.bmp")" = BM ] || fail "$name.bmp is no BMP file"
done

warnings=$(groff -man -ww -z "$page" 2>&1)
[ -z "$warnings" ] || fail "groff warns: $warnings"
diagnostics=$(groff -man -Tascii -P-cbou -rLL=250n -rHY=0 "$page" | sed -n '/^DIAGNOSTICS/,/^EXIT STATUS/p')
# Each line of each message, its placeholders matching anything.
grep -o '"[^"]*"' "$source/cli/messages.h" | sed 's/^"//; s/"$//; s/\\n$//' | while IFS= read -r message; do
    [ -n "$message" ] || continue
    pattern=$(printf '%s' "$message" | sed 's/[][\.*^$+?(){}|]/\\&/g; s/%[0-9]*l*[scd]/.*/g')
    grep -q -E -- "$pattern" <<<"$diagnostics" || fail "DIAGNOSTICS does not name: $message"
done
echo "install tree and manual page: OK"
