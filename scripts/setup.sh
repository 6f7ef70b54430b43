#!/usr/bin/env bash
# Installs the Debian packages the library needs and builds it (Debian 12, as root).
# Usage: scripts/setup.sh [build-dir [cmake options...]]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
shift || true

if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    missing=()
    while read -r pkg; do
        [ -z "$pkg" ] && continue
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done < "$here/scripts/packages.txt"
    # npm fetches the fallback font; a machine with its own Node.js already has it.
    command -v npm >/dev/null || missing+=(npm)
    if [ ${#missing[@]} -gt 0 ]; then
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
fi

export JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$build" -j"$(nproc)"
