#!/usr/bin/env bash
# Sets up, builds and runs the demo: a recording view drawn by the library in a
# JOGL window on a private Xvfb, saved as build/demo/recording-view.png.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
"$here/scripts/setup.sh" "$build"
mkdir -p "$build/demo"
"$here/tests/xvfb-run.sh" java -Djogl.disable.openglcore=true -Djava.library.path=/usr/lib/jni \
    -Dquorvex.library="$build/lib/libquorvexviewer.so" \
    -cp "$build/lib/quorvexviewer-demo.jar:$build/lib/quorvexviewer.jar:/usr/share/java/jogl2.jar:/usr/share/java/gluegen2-rt.jar" \
    quorvex.viewer.demo.Demo "$build/demo"
