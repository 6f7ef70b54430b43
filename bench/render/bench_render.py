#!/usr/bin/python3
"""quorvex-render's speed and memory, against its peers in the same run.

heatmap: 50,000 gaze points on a 1440 x 900 stimulus, end to end (start,
read, draw, write the PNG), against a PyGaze-style NumPy script on the same
data and against the floor of decoding the stimulus PNG and encoding the
output PNG alone. movie: the pipelined render (drawing and encoding overlap)
against the serial model (each frame encoded before the next is drawn).
Peak resident memory of each render against its decoded pictures.
usage: bench_render.py BUILD_DIR [REPEATS]
"""
import os
import platform
import random
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
from PIL import Image


def run(command, env=None):
    """Seconds and peak resident KiB of one run of `command`."""
    with tempfile.TemporaryFile() as log:
        start = time.perf_counter()
        child = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=log)
        _, status, usage = os.wait4(child.pid, 0)
        seconds = time.perf_counter() - start
        log.seek(0)
        err = log.read().decode(errors="replace")
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed: {' '.join(command)}\n{err}")
    return seconds, usage.ru_maxrss


def timed(commands, repeats):
    """Median seconds and peak KiB per command, the commands interleaved so
    that the machine's moods fall on all of them alike."""
    times = {name: [] for name in commands}
    peaks = {name: 0 for name in commands}
    for _ in range(repeats):
        for name, (command, env) in commands.items():
            seconds, peak = run(command, env)
            times[name].append(seconds)
            peaks[name] = max(peaks[name], peak)
    return {name: statistics.median(t) for name, t in times.items()}, peaks


def tree_peak_rss(command, env):
    """Seconds of one run, and the peak of the summed resident memory (KiB)
    of the process and all its children, sampled every 10 ms."""
    start = time.perf_counter()
    with tempfile.TemporaryFile() as log:
        child = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=log)
        peak = 0
        while child.poll() is None:
            total = 0
            for entry in os.listdir("/proc"):
                if not entry.isdigit():
                    continue
                try:
                    with open(f"/proc/{entry}/stat") as stat:
                        fields = stat.read().rsplit(")", 1)[1].split()
                    pid, ppid, rss_pages = int(entry), int(fields[1]), int(fields[21])
                except (OSError, IndexError, ValueError):
                    continue
                if pid == child.pid or ppid == child.pid:
                    total += rss_pages * os.sysconf("SC_PAGE_SIZE") // 1024
            peak = max(peak, total)
            time.sleep(0.01)
        if child.returncode != 0:
            log.seek(0)
            sys.exit(f"failed: {' '.join(command)}\n{log.read().decode(errors='replace')}")
    return time.perf_counter() - start, peak


def write_batch(folder, stimulus, rows, points):
    rng = np.random.default_rng(3)
    manifest = os.path.join(folder, f"batch{rows}.tsv")
    with open(manifest, "w") as out:
        out.write("id\tdata\tstimulus\tformat\n")
        for i in range(rows):
            gaze = rng.normal(rng.uniform([200, 150], [1240, 750]), 60, (points, 2))
            data = os.path.join(folder, f"row{i}.csv")
            np.savetxt(data, gaze, fmt="%.2f", delimiter=",")
            out.write(f"r{rows}_{i}\t{data}\t{stimulus}\txy\n")
    return manifest


def cpu_model():
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return platform.processor()


def write_inputs(folder, width, height, points):
    rng = np.random.default_rng(11)
    # A photo-like stimulus: smooth shapes plus sensor noise (PNG cannot squeeze it flat).
    y, x = np.mgrid[0:height, 0:width]
    base = 128 + 60 * np.sin(x / 97.0) * np.cos(y / 71.0)
    picture = np.stack([base, base * 0.8 + 30, 255 - base], axis=-1) + rng.normal(0, 6, (height, width, 3))
    stimulus = os.path.join(folder, "stimulus.png")
    Image.fromarray(picture.clip(0, 255).astype(np.uint8)).save(stimulus)
    # Gaze: a few dense places and a thin spread everywhere.
    centres = rng.uniform([100, 100], [width - 100, height - 100], (6, 2))
    dense = centres[rng.integers(0, 6, points * 9 // 10)] + rng.normal(0, 35, (points * 9 // 10, 2))
    spread = rng.uniform([0, 0], [width, height], (points - len(dense), 2))
    gaze = np.vstack([dense, spread])
    data = os.path.join(folder, "gaze.csv")
    np.savetxt(data, gaze, fmt="%.2f", delimiter=",")
    return stimulus, data


def write_movie_inputs(folder, width, height, frames, rate):
    video = os.path.join(folder, "scene.mp4")
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                    f"testsrc2=s={width}x{height}:r={rate}:d={frames / rate}", "-c:v", "libx264", "-preset",
                    "veryfast", "-pix_fmt", "yuv420p", video], check=True)
    rng = random.Random(5)
    data = os.path.join(folder, "gaze_positions.csv")
    with open(data, "w") as out:
        out.write("gaze_timestamp,world_index,confidence,norm_pos_x,norm_pos_y,base_data\n")
        for frame in range(frames):
            for k in range(4):
                out.write(f"{frame / rate + k / 120:.4f},{frame},0.95,{rng.uniform(0.2, 0.8):.4f},"
                          f"{rng.uniform(0.2, 0.8):.4f},\"{frame}-0 {frame}-1\"\n")
    return video, data


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    repeats = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    render = os.path.join(build, "lib", "quorvex-render")
    floor = os.path.join(build, "bench", "png_floor")
    peer = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pygaze_heatmap.py")
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    print(f"machine: {cpu_model()}, {os.cpu_count()} cores; GL: EGL surfaceless, Mesa llvmpipe")
    with tempfile.TemporaryDirectory() as folder:
        width, height, points = 1440, 900, 50000
        stimulus, data = write_inputs(folder, width, height, points)
        out = os.path.join(folder, "out.png")
        heat, peaks = timed({
            "quorvex-render": ([render, "heatmap", "--data", data, "--format", "xy", "--stimulus", stimulus,
                                "-o", out], env),
            "numpy": ([sys.executable, peer, stimulus, data, "16", out], env),
            "png floor": ([floor, stimulus, out], env),
            "16x16 render": ([render, "heatmap", "--data", data, "--format", "xy", "--size", "16x16", "-o", out], env),
        }, repeats)
        print(f"heatmap, {points} gaze points on {width}x{height}, median of {repeats}:")
        for name, seconds in heat.items():
            print(f"  {name:15s} {seconds * 1000:8.1f} ms  peak {peaks[name] / 1024:7.1f} MiB")
        print(f"  numpy / quorvex-render      {heat['numpy'] / heat['quorvex-render']:6.1f}x (target >= 20)")
        print(f"  quorvex-render / png floor  {heat['quorvex-render'] / heat['png floor']:6.2f}x (target <= 1.5)")
        pictures = width * height * 4 * 4 / 2**20  # decoded stimulus, colour, depth, read-back
        print(f"  peak of the render {peaks['quorvex-render'] / 1024:.1f} MiB against {pictures:.1f} MiB "
              f"of decoded stimulus and frame buffers; a 16 x 16 render of the same data (the process, its "
              f"libraries, Mesa and LLVM) peaks at {peaks['16x16 render'] / 1024:.1f} MiB, so the picture adds "
              f"{(peaks['quorvex-render'] - peaks['16x16 render']) / 1024:.1f} MiB")

        manifest = write_batch(folder, stimulus, 8, 20000)
        outs = os.path.join(folder, "outs")
        os.makedirs(outs, exist_ok=True)
        batch = [render, "batch", manifest, "--out-dir", outs, "--force"]
        single = [render, "heatmap", "--size", "16x16", "--data", os.path.join(folder, "row0.csv"), "--format",
                  "xy", "-o", os.path.join(folder, "tiny.png")]
        one_row = [render, "heatmap", "--stimulus", stimulus, "--data", os.path.join(folder, "row0.csv"),
                   "--format", "xy", "-o", os.path.join(folder, "row.png")]
        bt, _ = timed({"jobs 1": (batch + ["--jobs", "1"], env), "jobs 2": (batch + ["--jobs", "2"], env),
                       "overhead": (single, env), "row": (one_row, env)}, max(1, repeats // 2))
        print(f"batch of 8 heatmap rows (20,000 points each on {width}x{height}), median of {max(1, repeats // 2)}:")
        print(f"  --jobs 1 {bt['jobs 1']:6.2f} s, --jobs 2 {bt['jobs 2']:6.2f} s: "
              f"{bt['jobs 1'] / bt['jobs 2']:.2f}x (target >= 1.6)")
        print(f"  a worker's overhead (context, programs, font; a 16 x 16 render) {bt['overhead'] * 1000:.0f} ms "
              f"against a row's render {bt['row'] * 1000:.0f} ms ({100 * bt['overhead'] / bt['row']:.0f} %)")
        small = write_batch(folder, stimulus, 4, 20000)
        for jobs in (1, 2):
            for rows, m in ((4, small), (8, manifest)):
                _, peak = tree_peak_rss([render, "batch", m, "--out-dir", outs, "--force", "--jobs", str(jobs)], env)
                print(f"  peak resident set of the batch, --jobs {jobs}, {rows} rows: {peak / 1024:6.1f} MiB")

        mw, mh, frames, rate = 640, 480, 250, 25
        video, gaze = write_movie_inputs(folder, mw, mh, frames, rate)
        movie = os.path.join(folder, "out.mp4")
        serial_env = dict(env, QUORVEX_RENDER_SERIAL="1")
        args = [render, "movie", "--data", gaze, "--video", video, "-o", movie]
        times, mpeaks = timed({"pipelined": (args, env), "serial": (args, serial_env)}, max(1, repeats // 2))
        print(f"movie, {frames} frames of {mw}x{mh}, all layers, median of {max(1, repeats // 2)}:")
        for name, seconds in times.items():
            print(f"  {name:10s} {seconds:6.2f} s  {frames / seconds:6.1f} frames/s  peak {mpeaks[name] / 1024:6.1f} MiB")
        print(f"  pipelined against serial: {times['serial'] / times['pipelined']:.2f} of the serial time's speed "
              f"(target >= 0.9)")


if __name__ == "__main__":
    main()
