#!/usr/bin/env bash
# Installs the given Debian packages that are not installed yet: directly as root, else via sudo.
# Usage: scripts/install_missing.sh PACKAGE...
set -euo pipefail
missing=()
for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
((${#missing[@]})) || exit 0
echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    sudo_cmd=()
elif command -v sudo >/dev/null; then
    sudo_cmd=(sudo)
else
    echo "Missing packages (${missing[*]}): run this command as root, or install them with apt-get." >&2
    exit 1
fi
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
