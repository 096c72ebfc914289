#!/usr/bin/env bash
# Installs, on Debian, whichever of the build and test packages are missing.
# Extra package names may be given as arguments.
set -euo pipefail
wanted=(cmake ninja-build g++ libgtest-dev groff-base libdeflate-dev libspng-dev "$@")
missing=()
for pkg in "${wanted[@]}"; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
