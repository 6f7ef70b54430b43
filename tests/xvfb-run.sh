#!/usr/bin/env bash
# Runs one command against a private Xvfb server (Mesa llvmpipe) started for it,
# so tests need no display of their own and may run in parallel.
set -u
workdir=$(mktemp -d)
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -rf "$workdir"' EXIT

Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp -noreset 5>"$workdir/display" \
    >"$workdir/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 1 200); do
    [ -s "$workdir/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || { cat "$workdir/xvfb.log" >&2; exit 1; }
    sleep 0.05
done
[ -s "$workdir/display" ] || { echo "Xvfb did not start" >&2; exit 1; }

export DISPLAY=":$(head -n1 "$workdir/display")"
export LIBGL_ALWAYS_SOFTWARE=1
export GALLIUM_DRIVER=${GALLIUM_DRIVER:-llvmpipe}
"$@"
