#!/usr/bin/env python3
"""Inject faults into the library one at a time and count how many the test suite catches.

Each fault of the list (tools/faults.txt) replaces one exact piece of text that occurs once in one
source file. For each fault: apply it, rebuild what the file belongs to (the library, the font
library, the video plug-ins or the encoder; the test programs load these at run time), run the
non-sanitized tests cheapest group first and stop at the first failure. The file is always put back,
also on Ctrl-C or SIGTERM; a fault left behind by a killed run is put back by the next run.

Results: "killed" (a test failed, crashed or timed out), "survived", "n/a" (its text is no longer in
the file), "ambiguous" (the text occurs more than once), "invalid" (it does not compile).

    tools/fault-inject.py [--build-dir build] [--only id,id] [--list tools/faults.txt]
"""

import argparse
import json
import os
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Which build targets a source folder belongs to. The library's objects are linked twice: the
# shipped copy (JUnit, demo) and the all-symbols copy the native and JNI tests load.
TARGETS = {"src": ["quorvexviewer", "quorvexviewer_testing", "quorvex-render"], "ftgl": ["ftgl64"],
           "videoloaders": ["video_loaders"], "encoder": ["quorvex-encoder", "quorvex-render", "qv_encode_tests"],
           "render": ["quorvex-render", "render_reader_tests"]}
# Built once before the run so every test group has its program.
TEST_TARGETS = ["native_tests", "jni_tests", "ftgl_tests", "encoder_tests", "quorvexviewer_tests",
                "qv_recording_encoder", "video_loaders", "quorvex-encoder", "qvfault", "qvnoentry",
                "quorvex-render", "render_cli_tests", "render_reader_tests", "qv_encode_tests"]
# Byte-exact text: line ends kept, stray bytes carried through.
TEXT = {"encoding": "utf-8", "errors": "surrogateescape", "newline": ""}
PENDING = ".fault-inject.pending"
PIPE_PATH = "/tmp/fifoChannel"  # the movie export's fixed pipe
FAIL_LOG = []
# Tests run with a /tmp of their own where the system allows (root: a mount namespace), so export
# tests of other checkouts on this machine, which use the same fixed pipe path, neither disturb
# them nor are disturbed. X servers still pick free display numbers: their abstract sockets are
# shared.
PRIVATE_TMP_CMD = ["unshare", "-m", "sh", "-c", 'mount -t tmpfs -o mode=1777 qv-fault-tmp /tmp && exec "$@"', "sh"]
PRIVATE_TMP = []  # where the output of failed test runs goes, for a look afterwards  # in the build folder: the file under mutation and its original text


def log(msg):
    print(msg, flush=True)


def parse_faults(path):
    """Blocks of 'key: value' lines separated by blank lines; '#' lines are comments."""
    faults, cur = [], {}
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    for number, line in enumerate(lines + [""], 1):
        if line.startswith("#"):
            continue
        if not line.strip():
            if cur:
                missing = {"id", "file", "from", "to", "why"} - cur.keys()
                if missing:
                    sys.exit(f"{path}:{number}: fault {cur.get('id', '?')} lacks {', '.join(sorted(missing))}")
                faults.append(cur)
                cur = {}
            continue
        key, sep, value = line.partition(":")
        if not sep or key not in ("id", "file", "from", "to", "why"):
            sys.exit(f"{path}:{number}: expected 'id|file|from|to|why: text', got {line!r}")
        cur[key] = value.strip()
    ids = [f["id"] for f in faults]
    dup = {i for i in ids if ids.count(i) > 1}
    if dup:
        sys.exit(f"{path}: duplicate ids {sorted(dup)}")
    return faults


def pattern(text):
    """A regex for text in which blanks match any white space, and white space may also appear or
    vanish next to punctuation, so a fault still applies after the file is reformatted."""
    tokens = re.findall(r"\w+|\S", text)
    out = []
    for i, tok in enumerate(tokens):
        if i:
            both_words = re.match(r"\w", tok) and re.match(r"\w", tokens[i - 1])
            out.append(r"\s+" if both_words else r"\s*")
        out.append(re.escape(tok))
    return re.compile("".join(out))


def run(cmd, cwd=None, env=None, timeout=None):
    """Runs cmd in its own process group (so a timeout also ends its Xvfb); returns (rc, output, timed_out)."""
    p = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         start_new_session=True)
    try:
        out, _ = p.communicate(timeout=timeout)
        return p.returncode, out.decode("utf-8", "replace"), False
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        out, _ = p.communicate()
        return -9, out.decode("utf-8", "replace"), True
    except BaseException:
        os.killpg(p.pid, signal.SIGKILL)
        p.wait()
        raise


def build(build_dir, targets, timeout=1800):
    cmd = ["nice", "-n", "5", "cmake", "--build", build_dir, "-j2", "--target"] + targets
    rc, out, timed_out = run(cmd, timeout=timeout)
    return rc == 0 and not timed_out, out


class Group:
    """Tests run by one process: the gtest cases of one program and environment, or one ctest command."""

    def __init__(self, name, argv, cwd, env, gtest_filters=None, timeout=600):
        self.name, self.argv, self.cwd, self.env = name, argv, cwd, env
        self.filters = gtest_filters  # None: not a gtest program
        self.timeout = timeout
        self.seconds = 0.0

    def command(self, only=None):
        if self.filters is None:
            return self.argv
        return self.argv + ["--gtest_fail_fast", "--gtest_filter=" + (only or ":".join(self.filters))]

    def run_once(self, only=None):
        """Returns None when it passed, else the name of what failed."""
        cmd = self.command(only)
        if PRIVATE_TMP:
            cmd = PRIVATE_TMP + cmd
        else:
            wait_for_pipe_path()
        rc, out, timed_out = run(cmd, self.cwd, self.env, self.timeout)
        if rc == 0 and not timed_out:
            return None
        if FAIL_LOG:
            with open(FAIL_LOG[0], "a", encoding="utf-8", errors="replace") as f:
                f.write(f"==== {self.name} {only or ''}\n{out[-20000:]}\n")
        if self.filters is None:
            return self.name + (" (timeout)" if timed_out else "")
        # A parameterised case's line goes on with ", where GetParam() = ...".
        failed = re.findall(r"^\[  FAILED  \] ([^\s,]+)(?:,| \()", out, re.M)
        if failed:
            return failed[0]
        started = re.findall(r"^\[ RUN      \] (\S+)", out, re.M)
        what = "timeout" if timed_out else f"exit {rc}"
        return f"{started[-1]} ({what})" if started else f"{os.path.basename(self.argv[0])} ({what})"

    def confirm(self, failed):
        """A failure counts once it repeats: the failed case alone, or the whole command again."""
        if self.filters is not None and " (" not in failed:
            return self.run_once(only=failed) is not None
        return self.run_once() is not None

    def killer(self, attempts=3):
        """Runs the group; None when it passes. A failure that does not repeat (a busy machine, or
        the shared pipe path when there is no private /tmp) is run again, up to `attempts` times."""
        seen = []
        for _ in range(attempts):
            failed = self.run_once()
            if failed is None:
                return None
            if failed in seen or self.confirm(failed):
                return failed
            log(f"    note: {failed} failed once and did not repeat; {self.name} runs again")
            seen.append(failed)
        return f"{seen[-1]} (unstable)"


def wait_for_pipe_path(limit=60):
    """The export tests (ours and any other checkout's on this machine) all use one fixed pipe path;
    start only when nobody holds it."""
    deadline = time.time() + limit
    while os.path.exists(PIPE_PATH) and time.time() < deadline:
        time.sleep(1)


def discover_groups(build_dir, env):
    """The non-sanitized ctest entries, gtest cases merged into one run per program and environment."""
    rc, out, _ = run(["ctest", "--show-only=json-v1"], cwd=build_dir, env=env, timeout=300)
    if rc != 0:
        sys.exit("ctest --show-only failed:\n" + out)
    groups = {}
    for t in json.loads(out)["tests"]:
        name, argv = t["name"], t.get("command")
        props = {p["name"]: p["value"] for p in t.get("properties", [])}
        if not argv or name.startswith("asan") or props.get("DISABLED"):
            continue
        test_env = dict(env)
        for kv in props.get("ENVIRONMENT", []):
            k, _, v = kv.partition("=")
            test_env[k] = v
        cwd = props.get("WORKING_DIRECTORY", build_dir)
        gfilter = [a for a in argv if a.startswith("--gtest_filter=")]
        if gfilter:
            rest = tuple(a for a in argv if not a.startswith("--gtest_filter="))
            key = (rest, tuple(sorted(props.get("ENVIRONMENT", []))))
            if key not in groups:
                label = os.path.basename(argv[0]) + ("[" + " ".join(key[1]) + "]" if key[1] else "")
                groups[key] = Group(label, list(rest), cwd, test_env, [])
            groups[key].filters.append(gfilter[0].split("=", 1)[1])
        else:
            groups[("cmd", name)] = Group(name, argv, cwd, test_env, timeout=float(props.get("TIMEOUT", 600)))
    return list(groups.values())


class Mutation:
    """Applies one fault in place; put back on exit, on a signal and by the next run after a hard kill."""

    def __init__(self, build_dir, path, original, mutated):
        self.pending = os.path.join(build_dir, PENDING)
        self.path, self.original, self.mutated = path, original, mutated

    def __enter__(self):
        with open(self.pending, "w", encoding="utf-8") as f:
            json.dump({"path": self.path, "original": self.original}, f, ensure_ascii=True)
        with open(self.path, "w", **TEXT) as f:
            f.write(self.mutated)
        return self

    def __exit__(self, *exc):
        with open(self.path, "w", **TEXT) as f:
            f.write(self.original)
        os.remove(self.pending)
        return False


def recover(build_dir):
    pending = os.path.join(build_dir, PENDING)
    if os.path.exists(pending):
        with open(pending, encoding="utf-8") as f:
            state = json.load(f)
        with open(state["path"], "w", **TEXT) as f:
            f.write(state["original"])
        os.remove(pending)
        log(f"put back {state['path']} left mutated by an interrupted run")


def on_signal(signum, frame):
    raise KeyboardInterrupt(f"signal {signum}")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build-dir", default=os.path.join(ROOT, "build"))
    ap.add_argument("--list", default=os.path.join(ROOT, "tools", "faults.txt"))
    ap.add_argument("--only", default="", help="comma-separated fault ids")
    ap.add_argument("--timeout", type=float, default=900, help="seconds per fault, build and tests")
    ap.add_argument("--check", action="store_true", help="only check that every fault applies once")
    args = ap.parse_args()
    build_dir = os.path.abspath(args.build_dir)
    # SIGINT too: a shell starts background jobs with it ignored, which Python would keep.
    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGHUP, on_signal)

    faults = parse_faults(args.list)
    if args.only:
        wanted = set(args.only.split(","))
        unknown = wanted - {f["id"] for f in faults}
        if unknown:
            sys.exit(f"unknown ids: {sorted(unknown)}")
        faults = [f for f in faults if f["id"] in wanted]

    recover(build_dir)
    # Each fault's file, its original text and how often the text occurs.
    plans = []
    for f in faults:
        path = os.path.join(ROOT, f["file"])
        text = open(path, **TEXT).read() if os.path.exists(path) else ""
        matches = list(pattern(f["from"]).finditer(text)) if f["from"] else []
        count = len(matches)
        top = f["file"].split("/", 1)[0]
        status = "n/a" if count == 0 else "ambiguous" if count > 1 else None
        if status is None and top not in TARGETS:
            status = "n/a"
        mutated = text[:matches[0].start()] + f["to"] + text[matches[0].end():] if count == 1 else None
        plans.append((f, path, text, status, mutated))
    if args.check:
        for f, _, _, status, _ in plans:
            log(f"{f['id']:<28} {status or 'applies'}")
        return 0

    env = dict(os.environ)
    env.pop("DISPLAY", None)  # every test program starts its own Xvfb, as under ctest
    env.update(CCACHE_BASEDIR="/work", CCACHE_NOHASHDIR="1")
    git_dirs = [d for d in TARGETS if os.path.isdir(os.path.join(ROOT, d))]
    dirty_before = subprocess.run(["git", "-C", ROOT, "diff", "--quiet", "--"] + git_dirs).returncode != 0

    start = time.time()
    log("building the tests ...")
    rc, out, _ = run(["cmake", "--build", build_dir, "--target", "help"], timeout=120)
    known = set(re.findall(r"^\.\.\. (\S+)", out, re.M))
    ok, out = build(build_dir, [t for t in TEST_TARGETS if t in known])
    if not ok:
        sys.exit("the unmutated build failed:\n" + out[-4000:])
    rc, _, _ = run(PRIVATE_TMP_CMD + ["true"], timeout=60)
    PRIVATE_TMP[:] = PRIVATE_TMP_CMD if rc == 0 else []
    log("tests run with a private /tmp" if PRIVATE_TMP else
        "warning: no private /tmp (unshare -m failed); export tests may meet other users of " + PIPE_PATH)
    groups = discover_groups(build_dir, env)
    log_dir = os.path.join(build_dir, "fault-inject-logs")
    os.makedirs(log_dir, exist_ok=True)
    FAIL_LOG[:] = [os.path.join(log_dir, "baseline.txt")]
    log(f"baseline: {len(groups)} test groups ...")
    for g in groups:
        t0 = time.time()
        failed = g.killer()
        g.seconds = time.time() - t0
        if failed:
            if g.filters is not None and " (" not in failed:
                log(f"  baseline: {failed} fails without any fault; left out")
                g.filters = [x for x in g.filters if x != failed]
            else:
                log(f"  baseline: {g.name} fails without any fault ({failed}); left out")
                g.filters = []
        g.timeout = max(g.timeout if g.filters is None else 0, 4 * g.seconds + 60)
    groups = [g for g in groups if g.filters != []]
    groups.sort(key=lambda g: g.seconds)
    log("  " + ", ".join(f"{g.name} {g.seconds:.1f}s" for g in groups))

    results, touched = [], set()
    try:
        for f, path, text, status, mutated in plans:
            t0 = time.time()
            killer = ""
            FAIL_LOG[:] = [os.path.join(log_dir, f["id"] + ".txt")]
            if os.path.exists(FAIL_LOG[0]):
                os.remove(FAIL_LOG[0])
            if status is None:
                own = TARGETS[f["file"].split("/", 1)[0]]
                # The targets of earlier faults too: their files are back and must be rebuilt.
                targets = own + sorted(touched - set(own))
                touched.update(own)
                with Mutation(build_dir, path, text, mutated):
                    ok, out = build(build_dir, targets, timeout=args.timeout)
                    if not ok:
                        status = "invalid"
                        with open(FAIL_LOG[0], "w", encoding="utf-8", errors="replace") as log_file:
                            log_file.write(out[-20000:])
                    else:
                        status = "survived"
                        for g in groups:
                            if time.time() - t0 > args.timeout:
                                status, killer = "killed", "fault timeout"
                                break
                            killer = g.killer()
                            if killer:
                                status = "killed"
                                break
                        killer = killer or ""
            seconds = time.time() - t0
            results.append((f, status, killer, seconds))
            log(f"{f['id']:<28} {status:<9} {killer:<60} {seconds:6.0f}s")
    except KeyboardInterrupt:
        log("interrupted; the file is put back")
    finally:
        if touched:
            log("rebuilding the unmutated " + ", ".join(sorted(touched)) + " ...")
            ok, out = build(build_dir, sorted(touched))
            if not ok:
                log("warning: the unmutated rebuild failed:\n" + out[-2000:])
        clean = subprocess.run(["git", "-C", ROOT, "diff", "--quiet", "--"] + git_dirs).returncode == 0
        if not dirty_before and not clean:
            log("ERROR: the source tree differs from git after the run")
            return 2

    applicable = [r for r in results if r[1] in ("killed", "survived")]
    killed = [r for r in applicable if r[1] == "killed"]
    log("")
    for r in applicable:
        if r[1] == "survived":
            log(f"survived: {r[0]['id']:<28} {r[0]['file']}: {r[0]['why']}")
    other = {s: sum(1 for r in results if r[1] == s) for s in ("n/a", "ambiguous", "invalid")}
    log(f"killed {len(killed)} of {len(applicable)} applicable ("
        + ", ".join(f"{n} {s}" for s, n in other.items()) + f"); {time.time() - start:.0f}s in all")
    return 0


if __name__ == "__main__":
    sys.exit(main())
