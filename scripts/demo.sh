#!/usr/bin/env bash
# Sets up, builds and runs the demo in a JOGL window on a private Xvfb: a
# recording view drawn by the library (build/demo/recording-view.png), then a
# generated scene video played through the library with the recording's
# overlays over every frame (a few frames saved as build/demo/frame-NNN.png),
# exported as build/demo/recording.mp4 and checked with ffprobe. Exits
# nonzero when any step fails or the movie is missing or wrong.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$here/build}")
# The demo needs the library, its companions and the jars, not the tests,
# sanitized copies, benchmarks and the headless renderer (scripts/test.sh
# builds those).
"$here/scripts/setup.sh" "$build" -DQV_BUILD_TESTS=OFF -DQV_BUILD_SANITIZED=OFF -DQV_BUILD_BENCH=OFF \
    -DQV_BUILD_RENDER=OFF
mkdir -p "$build/demo"
"$here/tests/xvfb-run.sh" java -Djogl.disable.openglcore=true -Djava.library.path=/usr/lib/jni \
    -Dquorvex.library="$build/lib/libquorvexviewer.so" \
    -cp "$build/lib/quorvexviewer-demo.jar:$build/lib/quorvexviewer.jar:/usr/share/java/jogl2.jar:/usr/share/java/gluegen2-rt.jar" \
    quorvex.viewer.demo.Demo "$build/demo"
echo "demo files in $build/demo:"
ls -l "$build/demo"
