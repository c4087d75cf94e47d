#!/usr/bin/env python3
"""Whole-program checks of corvanta-sim, run by CTest (see tests/traces.cmake).

  sim_checks.py trace  SIM WORKDIR REFERENCE [sim arguments...]
      run SIM with the arguments plus --trace, compare the trace with REFERENCE byte for byte
  sim_checks.py shared-trace SIM WORKDIR REFERENCE [sim arguments...]
      the same for a reference kept outside the repository: where REFERENCE or a
      --spectrum file is missing, says the check is skipped and why
  sim_checks.py repeat SIM WORKDIR
      two identical runs must give identical traces, snapshots and pictures, and the
      snapshot must be the world the trace line of its frame describes
  sim_checks.py errors SIM WORKDIR
      bad arguments, bad spectrum files and unwritable outputs: status 2, one message,
      no output file left behind; --help lists every option and --version the release
  sim_checks.py check SIM WORKDIR
      --check and --check-every check the invariants as often as asked, and a run of the
      world keeps them

CORVANTA_SIM_RUNNER, when set, is the command that runs SIM (a cross build's emulator:
"qemu-aarch64", "node --no-experimental-fetch"); where it is not installed, every check
says it is skipped and why.
"""
import os
import re
import stat
import threading
import shlex
import shutil
import subprocess
import sys

STREAM_BYTES = 10161008
FNV_OFFSET, FNV_PRIME, MASK = 0xcbf29ce484222325, 0x100000001b3, (1 << 64) - 1


def fnv1a(data):
    """FNV-1a 64; zero runs jump ahead by a power of the prime (a world is mostly zeros)."""
    h, pos = FNV_OFFSET, 0
    for m in re.finditer(rb"[^\x00]+", data):
        h = (h * pow(FNV_PRIME, m.start() - pos, 1 << 64)) & MASK
        for b in m.group():
            h = ((h ^ b) * FNV_PRIME) & MASK
        pos = m.end()
    return (h * pow(FNV_PRIME, len(data) - pos, 1 << 64)) & MASK


def fresh_dir(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


RUNNER = shlex.split(os.environ.get("CORVANTA_SIM_RUNNER", ""))


def run(sim, args, cwd):
    # In the work folder, so a run that writes its default pictures leaves them there.
    return subprocess.run(RUNNER + [sim] + args, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True, text=True)


def check_trace(sim, work, reference, args):
    fresh_dir(work)
    mine = os.path.join(work, "run.trace")
    r = run(sim, args + ["--trace", mine], work)
    if r.returncode != 0:
        sys.exit(f"corvanta-sim failed with status {r.returncode}: {r.stderr.strip()}")
    with open(mine) as f:
        got = f.read().splitlines()
    with open(reference) as f:
        want = f.read().splitlines()
    for n, (g, w) in enumerate(zip(got, want), start=1):
        if g != w:
            sys.exit(f"first difference at line {n}:\n  reference: {w}\n  this run:  {g}\n"
                     f"(frame_count population world-digest picture-digest; a --snapshot-at of that frame "
                     f"and shared/tools/snapdiff.py against the nearest reference snapshot name the field)")
    if len(got) != len(want):
        sys.exit(f"this run wrote {len(got)} lines, the reference has {len(want)}")
    print(f"{len(got)} lines identical to {os.path.basename(reference)}")


def check_repeat(sim, work):
    fresh_dir(work)
    frames, snap_at = 300, 250
    outputs = []
    for name in ("a", "b"):
        d = fresh_dir(os.path.join(work, name))
        args = ["--frames", str(frames), "--seed", "4242", "--trace", os.path.join(d, "run.trace"),
                "--snapshot-at", str(snap_at), "--snapshot", os.path.join(d, "world.cvw"),
                "--png-every", "100", "--out", os.path.join(d, "pictures")]
        r = run(sim, args, d)
        if r.returncode != 0:
            sys.exit(f"run {name} failed with status {r.returncode}: {r.stderr.strip()}")
        files = {}
        for root, _, names in os.walk(d):
            for n in names:
                path = os.path.join(root, n)
                with open(path, "rb") as f:
                    files[os.path.relpath(path, d)] = f.read()
        outputs.append(files)
    a, b = outputs
    expected = {"run.trace", "world.cvw"} | {f"pictures/frame-{k:06d}.png" for k in (100, 200, 300)}
    if set(a) != expected:
        sys.exit(f"expected files {sorted(expected)}, got {sorted(a)}")
    for name in sorted(expected):
        if a[name] != b[name]:
            sys.exit(f"{name} differs between two runs with the same arguments")
        if name.endswith(".png") and not a[name].startswith(b"\x89PNG\r\n\x1a\n"):
            sys.exit(f"{name} is not a PNG")
    lines = a["run.trace"].decode().splitlines()
    if len(lines) != frames or [int(l.split()[0]) for l in lines] != list(range(1, frames + 1)):
        sys.exit("the trace should have one line per frame, frame_count 1..%d" % frames)
    if any(not re.fullmatch(r"\d+ \d+ [0-9a-f]{16} [0-9a-f]{16}", l) for l in lines):
        sys.exit("a trace line is not '<frame> <population> <16 hex> <16 hex>'")
    snap = a["world.cvw"]
    if len(snap) != STREAM_BYTES or snap[:4] != b"CVW1":
        sys.exit(f"snapshot is {len(snap)} bytes starting {snap[:4]!r}, expected {STREAM_BYTES} starting CVW1")
    if int.from_bytes(snap[4:8], "little") != snap_at:
        sys.exit("the snapshot's frame_count is not the frame asked for")
    if f"{fnv1a(snap):016x}" != lines[snap_at - 1].split()[2]:
        sys.exit(f"the snapshot's FNV-1a differs from the world digest of trace line {snap_at}")
    if int(lines[-1].split()[1]) == 0:
        sys.exit("no agent alive after 300 frames: the world did not run")
    # A trace into a pipe (as into /dev/null or /dev/stdout): written in place, the pipe
    # still a pipe afterwards, not replaced by a plain file.
    fifo = os.path.join(work, "trace.fifo")
    os.mkfifo(fifo)
    received = []
    reader = threading.Thread(target=lambda: received.append(open(fifo, "rb").read()), daemon=True)
    reader.start()
    r = run(sim, ["--frames", str(frames), "--seed", "4242", "--trace", fifo], work)
    reader.join(timeout=60)
    if r.returncode != 0:
        sys.exit(f"a trace into a pipe failed with status {r.returncode}: {r.stderr.strip()}")
    if not stat.S_ISFIFO(os.stat(fifo).st_mode):
        sys.exit("the pipe the trace went into is no longer a pipe")
    if not received or received[0] != a["run.trace"]:
        sys.exit("the pipe's reader did not get the trace the file got")
    print("two runs identical; snapshot matches its trace line; a trace into a pipe leaves the pipe")


# Every option corvanta-sim takes, as its --help lists them.
SIM_OPTIONS = ["--frames", "--seed", "--spectrum", "--audio", "--video", "--lossless", "--png-every", "--out",
               "--trace", "--trace-every", "--snapshot-at", "--snapshot", "--timing", "--check", "--check-every",
               "--version", "--help"]


def check_help(sim, work):
    """--help lists every option, each of which the program takes; --help and --version
    end the command line, whatever follows."""
    failures = []
    r = run(sim, ["--help", "--bogus"], work)
    listed = re.findall(r"^  (--[a-z0-9-]+)", r.stdout, re.MULTILINE)
    if r.returncode != 0 or not r.stdout.startswith("usage: corvanta-sim") or r.stderr:
        failures.append(f"--help: status {r.returncode}, stdout {r.stdout[:40]!r}..., stderr {r.stderr!r}")
    elif sorted(listed) != sorted(SIM_OPTIONS):
        failures.append(f"--help lists {listed}, expected {SIM_OPTIONS}")
    for name in listed:
        # An unknown option after it, whether taken as its value or not, stops every run.
        r = run(sim, [name, "--bogus", "--bogus"], work)
        if f"unknown option '{name}'" in r.stderr:
            failures.append(f"--help lists {name}, which the program does not take")
    r = run(sim, ["--version", "--bogus"], work)
    if r.returncode != 0 or not re.fullmatch(r"corvanta-sim \d+\.\d+\.\d+\n", r.stdout) or r.stderr:
        failures.append(f"--version: status {r.returncode}, stdout {r.stdout!r}, stderr {r.stderr!r}")
    print(f"--help lists {len(listed)} options; --version: {r.stdout.strip()}")
    return failures


def check_errors(sim, work):
    fresh_dir(work)
    w = lambda name: os.path.join(work, name)
    with open(w("empty.bin"), "wb"):
        pass
    with open(w("short.bin"), "wb") as f:
        f.write(bytes(1153))
    with open(w("plain-file"), "wb") as f:
        f.write(b"x")
    blocked = w("plain-file")  # a file where a folder is needed: unwritable even for root
    taken = w("taken.y4m")  # a folder where a file is to be moved: writable, but no file goes there
    taken_mp4 = w("taken.mp4")
    os.makedirs(taken)
    os.makedirs(taken_mp4)
    ok_trace = w("ok.trace")
    snapshot = ["--snapshot-at", "5", "--snapshot", w("s.cvw")]
    # Each case: its arguments, the files it must not leave, and its message's text.
    cases = [
        ("unknown option", ["--bogus"], [], "unknown option '--bogus' (see --help)"),
        ("newline in an unknown option", ["-\n--frames"], [], "unknown option '-\\x0a--frames' (see --help)"),
        ("an argument that is no option", ["run.trace"], [], "unknown option 'run.trace' (see --help)"),
        ("missing value", ["--frames"], [], "option --frames needs a value"),
        ("frames not a number", ["--frames", "12x"], [], "--frames wants a whole number 0..2000000000, not '12x'"),
        ("negative frames", ["--frames", "-5"], [], "--frames wants a whole number 0..2000000000, not '-5'"),
        ("seed beyond 32 bits", ["--seed", "4294967296", "--trace", ok_trace], [ok_trace],
         "--seed wants a whole number 0..4294967295, not '4294967296'"),
        ("trace-every zero", ["--trace-every", "0", "--trace", ok_trace], [ok_trace],
         "--trace-every wants a whole number of at least 1"),
        ("check-every zero", ["--check-every", "0", "--trace", ok_trace], [ok_trace],
         "--check-every wants a whole number of at least 1, not '0'"),
        ("empty trace name", ["--trace", ""], [], "option --trace wants a non-empty path"),
        ("lossless Y4M", ["--lossless", "--video", w("v.y4m")], [w("v.y4m")],
         "--lossless is for --video FILE.mp4 or FILE.webm"),
        ("snapshot without frame", ["--snapshot", w("s.cvw")], [w("s.cvw")],
         "--snapshot-at and --snapshot go together"),
        ("snapshot beyond the run", ["--frames", "10", "--snapshot-at", "11", "--snapshot", w("s.cvw")],
         [w("s.cvw")], "--snapshot-at 11 lies beyond the last frame (10)"),
        ("missing spectrum file", ["--spectrum", w("absent.bin"), "--trace", ok_trace], [ok_trace], "absent.bin"),
        ("empty spectrum file", ["--spectrum", w("empty.bin"), "--trace", ok_trace], [ok_trace], "empty.bin"),
        ("spectrum not whole records", ["--spectrum", w("short.bin"), "--trace", ok_trace], [ok_trace], "short.bin"),
        ("unwritable trace", ["--frames", "5", "--trace", os.path.join(blocked, "t.trace")], [], "t.trace"),
        ("unwritable snapshot", ["--frames", "5", "--trace", ok_trace, "--snapshot-at", "5",
                                 "--snapshot", os.path.join(blocked, "s.cvw")], [ok_trace], "s.cvw"),
        ("unwritable picture folder", ["--frames", "5", "--trace", ok_trace, "--png-every", "1",
                                       "--out", os.path.join(blocked, "pictures")], [ok_trace], "pictures"),
        # The outputs come into place together or not at all: a video that cannot be
        # moved into place takes the trace and snapshot moved before it along...
        ("video not movable into place", ["--frames", "5", "--trace", ok_trace] + snapshot + ["--video", taken],
         [ok_trace, w("s.cvw"), taken + ".tmp"], f"cannot move '{taken}.tmp' to '{taken}'"),
        # ...and a trace that cannot be leaves the snapshot and video unwritten.
        ("trace not movable into place", ["--frames", "5", "--trace", taken] + snapshot + ["--video", w("v.y4m")],
         [w("s.cvw"), w("v.y4m"), taken + ".tmp"], f"cannot move '{taken}.tmp' to '{taken}'"),
        # A compressed video finishes last of all (in a build without FFmpeg, it is refused
        # before the first frame).
        ("compressed video not movable into place",
         ["--frames", "5", "--trace", ok_trace] + snapshot + ["--video", taken_mp4],
         [ok_trace, w("s.cvw"), taken_mp4 + ".tmp"], f"{taken_mp4}'"),
    ]
    failures = check_help(sim, work)
    for title, args, must_not_exist, expected in cases:
        r = run(sim, args, work)
        message = r.stderr.strip().splitlines()
        if r.returncode != 2:
            failures.append(f"{title}: status {r.returncode}, expected 2")
        elif len(message) != 1 or not message[0].startswith("corvanta-sim: "):
            failures.append(f"{title}: expected one 'corvanta-sim: ...' line on stderr, got {r.stderr!r}")
        elif expected not in message[0]:
            failures.append(f"{title}: expected {expected!r} in the message, got {message[0]!r}")
        left = [p for p in must_not_exist for q in (p, p + ".tmp") if os.path.exists(q)]
        if left:
            failures.append(f"{title}: left {left} behind")
        print(f"{title}: {message[0] if message else '(no message)'}")
    if sorted(os.listdir(work)) != ["empty.bin", "plain-file", "short.bin", "taken.mp4", "taken.y4m"]:
        failures.append(f"stray files in the work folder: {sorted(os.listdir(work))}")
    if failures:
        sys.exit("\n".join(failures))


def check_invariants(sim, work):
    fresh_dir(work)
    # Every frame, every 100th, and --check beside --check-every (which keeps its interval).
    for options, checks in ((["--check"], 600), (["--check-every", "100"], 6), (["--check-every", "7", "--check"], 85)):
        r = run(sim, ["--frames", "600", "--seed", "26", "--trace", os.path.join(work, "run.trace")] + options, work)
        if r.returncode != 0:
            sys.exit(f"{' '.join(options)}: status {r.returncode}: {r.stderr.strip()}")
        if f"check: invariants held at {checks} checks" not in r.stdout:
            sys.exit(f"{' '.join(options)}: expected {checks} checks, got {r.stdout.strip()!r}")
        print(f"{' '.join(options)}: {checks} checks held")


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    mode, sim, work = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])
    if RUNNER and shutil.which(RUNNER[0]) is None:
        print(f"sim_checks: skipped: {RUNNER[0]} not found (the cross builds run under qemu-user "
              f"and Node.js: tools/install-deps.sh installs its cross group)")
        return
    if mode == "shared-trace" and len(sys.argv) >= 5:
        args = sys.argv[5:]
        needed = [sys.argv[4]] + [args[i + 1] for i, a in enumerate(args[:-1])
                                  if a == "--spectrum" and args[i + 1] != "silence"]
        absent = [p for p in needed if not os.path.exists(p)]
        if absent:
            print(f"sim_checks: skipped: {', '.join(absent)} not found (the reference traces "
                  f"of an independent implementation are kept in ../shared/traces beside the repository)")
            return
        check_trace(sim, work, sys.argv[4], args)
    elif mode == "trace" and len(sys.argv) >= 5:
        check_trace(sim, work, sys.argv[4], sys.argv[5:])
    elif mode == "repeat":
        check_repeat(sim, work)
    elif mode == "errors":
        check_errors(sim, work)
    elif mode == "check":
        check_invariants(sim, work)
    else:
        sys.exit(__doc__)


main()
