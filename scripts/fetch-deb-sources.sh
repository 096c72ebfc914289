#!/usr/bin/env bash
# fetch-deb-sources.sh DIR PACKAGE...
# Unpacks Debian's source packages (the versions of this release, with
# Debian's patches applied) into DIR/PACKAGE, for the Windows build, which
# compiles them with mingw-w64.  apt's own configuration is left as it is: the
# deb-src line lives in a private list next to a private package index.
set -euo pipefail
dir=$1
shift
private=$(mktemp -d)
trap 'rm -rf "$private"' EXIT
chmod 755 "$private" # apt's download user reads and writes here
mkdir -p "$private/lists/partial" "$dir"
uris=$(sed -n 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/debian.sources | head -1)
printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: %s\n' \
    "$uris" /usr/share/keyrings/debian-archive-keyring.gpg >"$private/src.sources"
apt=(apt-get -q -o "Dir::Etc::sourcelist=$private/src.sources"
    -o Dir::Etc::sourceparts=/nonexistent -o "Dir::State::Lists=$private/lists")
"${apt[@]}" update >/dev/null
download=$private/download
mkdir -m 777 "$download"
(cd "$download" && "${apt[@]}" source --download-only "$@" >/dev/null)
for package in "$@"; do
    rm -rf "${dir:?}/$package"
    dpkg-source --no-check -x "$download/${package}_"*.dsc "$dir/$package" >/dev/null
done
rm -f "$dir"/*.orig.tar.* # links that dpkg-source leaves beside what it unpacked
