#!/usr/bin/env python3
"""Benchmark harness: the loader against the line-rate ceiling, against a raw
system-call loop and a pyserial script, behind a USB adapter's latency
timer, at scale, as a production station, idle, and its memory.

Prints one Markdown table; --chart FILE also draws the figures as a PNG.
It asserts nothing: the targets are printed beside the measurements.
--only adapter runs the adapter rows alone.

    bench/run_bench.py [--build DIR] [--quick] [--only adapter] [--chart FILE]
"""
import argparse
import json
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import threading
import time

BAUD = 57600
BITS_PER_BYTE = 12  # 8E2: start, 8 data, parity, 2 stop
HERE = os.path.dirname(os.path.abspath(__file__))


class Tools:
    def __init__(self, build):
        self.sim = os.path.join(build, "sim", "vexel-module-sim")
        self.cli = os.path.join(build, "cli", "duvozeviv-cli")
        self.raw = os.path.join(build, "bench", "bench_raw_loop")
        self.gui = os.path.join(build, "bench", "bench_dialog")
        self.peer = os.path.join(HERE, "pyserial_peer.py")
        for tool in (self.sim, self.cli, self.raw):
            if not os.access(tool, os.X_OK):
                sys.exit("missing %s: build the project first (cmake --build %s)" % (tool, build))


class Simulator:
    """One vexel-module-sim child. Its event lines go to a file, not a pipe:
    a reader thread here would be woken for every frame, just when the peer
    under test should be. The first line is its device path. With keep=True
    the events are JSON, for send_intervals_us(); cpu pins it to one core."""

    def __init__(self, tools, *args, keep=False, cpu=None):
        argv = [tools.sim, *args] + (["--json"] if keep else [])
        if cpu is not None:
            argv = ["taskset", "-c", str(cpu)] + argv
        self.log = tempfile.NamedTemporaryFile(prefix="vexel-sim-", suffix=".log")
        self.proc = subprocess.Popen(argv, stdout=self.log, stderr=subprocess.DEVNULL)
        self.path = ""
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and self.proc.poll() is None:
            with open(self.log.name) as f:
                first = f.readline()
            if first.endswith("\n"):
                self.path = first.strip()
                break
            time.sleep(0.01)
        if not self.path.startswith("/"):
            sys.exit("vexel-module-sim did not start: %r" % self.path)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)

    def send_intervals_us(self):
        """Median time between data chunks as the module saw them arrive: one
        observer, the same for every peer, that costs the peers nothing. The
        median keeps a stray scheduling hiccup from standing for the path."""
        with open(self.log.name) as f:
            times = [json.loads(line)["t_ms"] for line in f
                     if '"request"' in line and ('"SEND"' in line or '"SENDLAST"' in line)]
        gaps = sorted((b - a) * 1000 for a, b in zip(times, times[1:]))
        return gaps[len(gaps) // 2] if gaps else float("nan")


def make_image(directory, size):
    path = os.path.join(directory, "image-%d.mbf" % size)
    if not os.path.exists(path):
        with open(path, "wb") as f:
            f.write(bytes((i * 31 + (i >> 8)) & 0xFF for i in range(size)))
    return path


def watch_peak(pid, peak):
    """Follows the child's VmHWM until it exits. (ru_maxrss would include this
    script's own memory, inherited by the child before its exec.)"""
    while True:
        try:
            with open("/proc/%d/status" % pid) as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        peak[0] = max(peak[0], int(line.split()[1]))
        except OSError:
            return
        time.sleep(0.05)


def run_measured(argv, stdout_path, stderr_path, env=None):
    """Runs a child to its end; returns (exit status, wall s, cpu s, peak RSS KiB)."""
    with open(stdout_path, "w") as out, open(stderr_path, "w") as err:
        start = time.monotonic()
        proc = subprocess.Popen(argv, stdout=out, stderr=err, env=env)
        peak = [0]
        watcher = threading.Thread(target=watch_peak, args=(proc.pid, peak), daemon=True)
        watcher.start()
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.monotonic() - start
        proc.returncode = os.waitstatus_to_exitcode(status)
        watcher.join()
    return proc.returncode, wall, usage.ru_utime + usage.ru_stime, peak[0]


def summary_shares(stdout_path):
    """Each port's share of the line-rate ceiling, from the loader's summary table."""
    shares = {}
    with open(stdout_path) as f:
        for line in f:
            fields = line.split()
            if len(fields) >= 7 and fields[-1].endswith("%") and fields[1:3] == ["MODULE", "LOADED"]:
                shares[fields[0]] = float(fields[-1][:-1]) / 100
    return shares


def ideal_seconds(size):
    """Wire time at 57600 8E2 of INIT to the FLASH ACK, replies included."""
    chunks = max(1, (size + 63) // 64)
    line_bytes = 6 + 5 + size + chunks * (4 + 5) + 13 + 5
    return line_bytes * BITS_PER_BYTE / BAUD


def loader_run(tools, tmp, image, sims, extra=(), cpu=None):
    argv = [tools.cli, *extra]
    if cpu is not None:
        argv = ["taskset", "-c", str(cpu)] + argv
    for sim in sims:
        argv += ["-p", sim.path]
    argv.append(image)
    out, err = os.path.join(tmp, "cli.out"), os.path.join(tmp, "cli.err")
    status, wall, cpu, rss = run_measured(argv, out, err)
    if status != 0:
        sys.stderr.write(open(out).read() + open(err).read())
        sys.exit("the loader failed (exit status %d)" % status)
    return out, err, wall, cpu, rss


def bench_line_rate(tools, tmp, sizes, rows):
    for size in sizes:
        sim = Simulator(tools, "--line-rate", str(BAUD), "--count", "1")
        out, _, wall, _, _ = loader_run(tools, tmp, make_image(tmp, size), [sim])
        sim.stop()
        share = summary_shares(out)[sim.path]
        rows.append(("line rate", "%d KiB image, 1 module" % (size // 1024),
                     "efficiency %.3f (ideal %.2f s)" % (share, ideal_seconds(size)), ">= 0.99",
                     share >= 0.99))
    # The same paced simulator against the raw system-call loop: what this
    # machine and the simulator allow at all (full 64-byte chunks only).
    size = sizes[-1] if len(sizes) == 1 else sizes[1]
    raw_share = {}
    for cpu in (None, 0):
        sim = Simulator(tools, "--line-rate", str(BAUD), cpu=cpu)
        argv = [tools.raw, sim.path, str(size)]
        raw = peer_per_chunk(argv if cpu is None else ["taskset", "-c", str(cpu)] + argv)
        sim.stop()
        raw_share[cpu] = (64 + 4 + 5) * BITS_PER_BYTE / BAUD * 1e6 / raw
    rows.append(("line rate", "raw poll/read/write loop, %d KiB, paced" % (size // 1024),
                 "efficiency %.3f" % raw_share[None], "machine limit", None))
    # Both sides on one core: what is left once the virtual machine's
    # wake-ups across cores (an artefact of simulating the module on the same
    # machine) are out of the way.
    sim = Simulator(tools, "--line-rate", str(BAUD), "--count", "1", cpu=0)
    out, _, _, _, _ = loader_run(tools, tmp, make_image(tmp, size), [sim], cpu=0)
    sim.stop()
    share = summary_shares(out)[sim.path]
    rows.append(("line rate", "%d KiB image, loader and simulator on one core" % (size // 1024),
                 "efficiency %.3f (raw loop %.3f)" % (share, raw_share[0]), ">= 0.99",
                 share >= 0.99))


def bench_adapter(tools, tmp, size, runs, rows):
    """The paced line as it is, then behind a USB adapter whose latency timer
    holds each reply (vexel-module-sim --adapter-latency): FTDI's default
    16 ms, and the 1 ms the loader asks the driver for. Median of the runs,
    taken in turn so that a disturbance of the machine hits every case."""
    cases = [(None, "plain line, no adapter"), (16, "USB adapter, latency timer 16 ms"),
             (1, "USB adapter, latency timer 1 ms")]
    results = {latency: [] for latency, _ in cases}
    for _ in range(runs):
        for latency, _ in cases:
            extra = [] if latency is None else ["--adapter-latency", str(latency)]
            sim = Simulator(tools, "--line-rate", str(BAUD), "--count", "1", *extra)
            out, _, _, _, _ = loader_run(tools, tmp, make_image(tmp, size), [sim])
            sim.stop()
            results[latency].append(summary_shares(out)[sim.path])
    for latency, name in cases:
        shares = sorted(results[latency])
        share = shares[len(shares) // 2]
        rows.append(("adapter", "%d KiB image, 1 module, paced, %s" % (size // 1024, name),
                     "efficiency %.3f (%.2f s; %.3f to %.3f)" % (
                         share, ideal_seconds(size) / share, shares[0], shares[-1]),
                     "report", None))


def peer_per_chunk(argv):
    out = subprocess.run(argv, capture_output=True, text=True, timeout=600)
    m = re.search(r"per_chunk_us=([\d.]+)", out.stdout)
    if not m:
        sys.exit("%s failed: %s" % (argv[0], out.stderr))
    return float(m.group(1))


TURNAROUND_RUNS = 3


def bench_turnaround(tools, tmp, size, rows):
    image = make_image(tmp, size)
    peers = [
        ("loader", lambda sim: loader_run(tools, tmp, image, [sim])),
        ("threads", lambda sim: loader_run(tools, tmp, image, [sim], ["--watcher-threads"])),
        ("raw", lambda sim: peer_per_chunk([tools.raw, sim.path, str(size)])),
    ]
    try:
        import serial  # noqa: F401
        peers.append(("pyserial", lambda sim: peer_per_chunk(
            [sys.executable, tools.peer, sim.path, str(size)])))
    except ImportError:
        pass
    # Rounds of every peer in turn, so that a slow spell of the machine does
    # not fall on one peer only; each peer's figure is its median run.
    runs = {name: [] for name, _ in peers}
    for _ in range(TURNAROUND_RUNS):
        for name, run in peers:
            sim = Simulator(tools, keep=True)
            run(sim)
            sim.stop()
            runs[name].append(sim.send_intervals_us())
    us = {name: sorted(values)[len(values) // 2] for name, values in runs.items()}
    loader, raw = us["loader"], us["raw"]
    rows.append(("turnaround", "loader, median chunk round (%d KiB, unpaced)" % (size // 1024),
                 "%.1f us (%.2f x raw)" % (loader, loader / raw), "<= 1.5 x raw",
                 loader <= 1.5 * raw))
    rows.append(("turnaround", "loader with --watcher-threads (the dialog's path)",
                 "%.1f us (%.2f x raw)" % (us["threads"], us["threads"] / raw), "", None))
    rows.append(("turnaround", "raw poll/read/write loop", "%.1f us" % raw, "machine limit", None))
    if "pyserial" in us:
        rows.append(("turnaround", "pyserial script", "%.1f us" % us["pyserial"], "loader ahead",
                     loader < us["pyserial"]))
    else:
        rows.append(("turnaround", "pyserial script", "python3-serial missing", "", None))
    return loader, raw


def bench_scale(tools, tmp, counts, size, rows):
    image = make_image(tmp, size)
    results = []
    for n in counts:
        sims = [Simulator(tools, "--line-rate", str(BAUD), "--count", "1") for _ in range(n)]
        out, _, wall, cpu, _ = loader_run(tools, tmp, image, sims)
        shares = summary_shares(out)
        for sim in sims:
            sim.stop()
        worst = min(shares.values())
        aggregate = n * size / wall
        results.append((n, worst, cpu / wall))
        rows.append(("scale", "%d modules x %d KiB, paced" % (n, size // 1024),
                     "%.0f B/s total; worst port %.3f; loader CPU %.2f%% of a core" %
                     (aggregate, worst, 100 * cpu / wall),
                     ">= 0.97 and < 5%" if n == 32 else "",
                     (worst >= 0.97 and cpu / wall < 0.05) if n == 32 else None))
    return results


# A station's probes: a 50 ms connect window, one started every 200 ms.
PROBE_WINDOW_S = 0.05
STATION_GAP_MS = 1000


def station_ideal_cycle(size, gap_s):
    """One module of a station at its best: the connect exchange and the load
    on the wire, the probe window that finds the module, and the operator's
    gap (the unanswered probe that sees a module go runs inside the gap)."""
    connect = (4 + 5) * BITS_PER_BYTE / BAUD
    return connect + ideal_seconds(size) + PROBE_WINDOW_S + gap_s


def station_cycles(cli_json):
    """Per-module cycles from the loader's --json module events, from one
    module's "loaded" to the next one's, split into programming (found to
    loaded, the probe window included), waiting for the module to go (loaded
    to removed) and waiting for the next one (removed to found)."""
    at = {}
    with open(cli_json) as f:
        for line in f:
            event = json.loads(line)
            if event.get("event") == "module":
                at[(event["module"], event["state"])] = event["elapsed"]
    cycles = []
    k = 2
    while (k, "loaded") in at:
        loaded, prev = at[(k, "loaded")], at[(k - 1, "loaded")]
        removed, found = at[(k - 1, "removed")], at[(k, "found")]
        cycles.append((loaded - prev, loaded - found, removed - prev, found - removed))
        k += 1
    if not cycles:
        sys.exit("station run: no two modules loaded (%s)" % sorted(at))
    return cycles


def fixture_gaps(sim):
    """The gaps the simulator actually played, removal to next attachment."""
    removed, gaps = {}, []
    with open(sim.log.name) as f:
        for line in f:
            if '"module"' not in line:
                continue
            event = json.loads(line)
            if event.get("event") != "module":
                continue
            if event["state"] == "removed":
                removed[event["index"]] = event["t_ms"]
            elif event["index"] - 1 in removed:
                gaps.append((event["t_ms"] - removed[event["index"] - 1]) / 1000)
    return gaps


def bench_station(tools, tmp, modules, size, rows, gap_ms=STATION_GAP_MS):
    gap = gap_ms / 1000
    sim = Simulator(tools, "--line-rate", str(BAUD), "--modules", str(modules),
                    "--gap", str(gap_ms), keep=True)
    out, _, _, _, _ = loader_run(tools, tmp, make_image(tmp, size), [sim],
                                 ["--station", "--count", str(modules), "--json"])
    sim.stop()
    cycles = station_cycles(out)
    mean = [sum(c[i] for c in cycles) / len(cycles) for i in range(4)]
    played = fixture_gaps(sim)
    ideal = station_ideal_cycle(size, gap)
    ratio = ideal / mean[0]
    rows.append(("station", "1 port, %d modules x %d KiB, paced, %g s gap" %
                 (modules, size // 1024, gap),
                 "%.0f modules/h (ideal %.0f, ratio %.3f); mean cycle %.3f s = programming "
                 "%.3f + module going %.3f + next module %.3f; gap as played %.3f s" %
                 (3600 / mean[0], 3600 / ideal, ratio, mean[0], mean[1], mean[2], mean[3],
                  sum(played) / max(1, len(played))),
                 ">= 0.9 x ideal", ratio >= 0.9))


def bench_idle_and_dialog(tools, tmp, seconds, size, rows):
    if not os.access(tools.gui, os.X_OK):
        rows.append(("idle", "dialog program", "bench_dialog not built", "", None))
        return
    sim = Simulator(tools)
    image = make_image(tmp, size)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", VEXEL_COM1=sim.path)
    out = subprocess.run([tools.gui, str(seconds), image], capture_output=True, text=True,
                         env=env, timeout=600)
    sim.stop()
    figures = dict(re.findall(r"(\w+)=([\d.]+)", out.stdout))
    if "idle_cpu_ms" not in figures:
        sys.exit("bench_dialog failed: %s%s" % (out.stdout, out.stderr))
    cpu = float(figures["idle_cpu_ms"])
    rows.append(("idle", "connected dialog, no run, %d s" % seconds,
                 "%.2f ms CPU, %.1f wake-ups/s" % (cpu, float(figures["wakeups_per_s"])),
                 "< 5 ms per 10 s", cpu * 10 / seconds < 5))
    rows.append(("memory", "dialog after a %d MiB run" % (size >> 20),
                 "peak %.1f MiB, after the run %.1f MiB" % (float(figures["peak_kib"]) / 1024,
                                                            float(figures["after_kib"]) / 1024),
                 "image not held", float(figures["after_kib"]) < float(figures["peak_kib"]) -
                 (size >> 10) / 2))


def bench_memory(tools, tmp, size, rows):
    sim = Simulator(tools)
    _, _, _, _, small = loader_run(tools, tmp, make_image(tmp, 4096), [sim])
    sim.stop()
    sim = Simulator(tools)
    _, _, wall, _, rss = loader_run(tools, tmp, make_image(tmp, size), [sim])
    sim.stop()
    rows.append(("memory", "command-line loader, %d MiB image" % (size >> 20),
                 "peak %.1f MiB (4 KiB image: %.1f MiB); %.1f s unpaced" %
                 (rss / 1024, small / 1024, wall), "report", None))


def machine():
    cpu = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    return "%s, %d cores, Linux %s" % (cpu, os.cpu_count(), os.uname().release)


def cpu_ticks():
    """(steal, all) clock ticks of the machine so far, from /proc/stat."""
    with open("/proc/stat") as f:
        fields = [int(v) for v in f.readline().split()[1:]]
    return fields[7] if len(fields) > 7 else 0, sum(fields)


def print_table(rows):
    print("| Section | Case | Measured | Target | Met |")
    print("|---|---|---|---|---|")
    for section, case, measured, target, met in rows:
        mark = "" if met is None else ("yes" if met else "**no**")
        print("| %s | %s | %s | %s | %s |" % (section, case, measured, target, mark))


def draw_chart(path, rows, scale):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        sys.exit("--chart needs python3-matplotlib (apt-get install python3-matplotlib)")
    fig, axes = plt.subplots(1, 2, figsize=(10, 4))
    effs = [(r[1], float(r[2].split()[1])) for r in rows if r[0] == "line rate"]
    def short(case):
        return (case.replace(" image", "").replace(", 1 module", "").replace(", paced", "")
                .replace(", loader and simulator on one core", "\none core")
                .replace("raw poll/read/write loop, ", "raw loop\n"))
    axes[0].bar([short(e[0]) for e in effs], [e[1] for e in effs])
    axes[0].axhline(0.99, color="red", linestyle="--", label="target 0.99")
    axes[0].set_ylim(0.9, 1.0)
    axes[0].set_title("Line-rate efficiency, one module")
    axes[0].legend()
    axes[1].plot([s[0] for s in scale], [s[1] for s in scale], "o-", label="worst port efficiency")
    axes[1].plot([s[0] for s in scale], [s[2] * 10 for s in scale], "s-",
                 label="loader CPU share x10")
    axes[1].axhline(0.97, color="red", linestyle="--", label="target 0.97")
    axes[1].set_xscale("log", base=2)
    axes[1].set_title("Parallel modules, paced")
    axes[1].set_xlabel("modules")
    axes[1].legend()
    fig.tight_layout()
    fig.savefig(path, dpi=100)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build"))
    parser.add_argument("--quick", action="store_true",
                        help="tiny sizes, to keep the harness working (CI)")
    parser.add_argument("--chart", metavar="FILE", help="also draw a PNG chart")
    parser.add_argument("--only", choices=["adapter"], help="run one section alone")
    args = parser.parse_args()
    tools = Tools(os.path.abspath(args.build))
    resource.setrlimit(resource.RLIMIT_NOFILE, (4096, 4096))

    steal_before, all_before = cpu_ticks()
    tmp = tempfile.mkdtemp(prefix="vexel-bench-")
    rows = []
    try:
        if args.only == "adapter":
            bench_adapter(tools, tmp, 4096 if args.quick else 64 * 1024, 1 if args.quick else 3, rows)
            scale = []
        elif args.quick:
            bench_line_rate(tools, tmp, [4096], rows)
            bench_adapter(tools, tmp, 4096, 1, rows)
            bench_turnaround(tools, tmp, 16 * 1024, rows)
            scale = bench_scale(tools, tmp, [1, 2], 4096, rows)
            bench_station(tools, tmp, 3, 1024, rows)
            bench_idle_and_dialog(tools, tmp, 1, 1 << 20, rows)
            bench_memory(tools, tmp, 1 << 20, rows)
        else:
            bench_line_rate(tools, tmp, [4096, 64 * 1024, 1 << 20], rows)
            bench_adapter(tools, tmp, 64 * 1024, 3, rows)
            bench_turnaround(tools, tmp, 256 * 1024, rows)
            scale = bench_scale(tools, tmp, [1, 8, 32, 64], 64 * 1024, rows)
            # The quickest swap a station always sees, and two slower ones:
            # a module put on between two probes waits for the next.
            bench_station(tools, tmp, 8, 4096, rows, 300)
            bench_station(tools, tmp, 8, 4096, rows)
            bench_station(tools, tmp, 5, 4096, rows, 1500)
            bench_idle_and_dialog(tools, tmp, 10, 16 << 20, rows)
            bench_memory(tools, tmp, 16 << 20, rows)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    steal_after, all_after = cpu_ticks()
    # On a virtual machine the host's other guests take CPU time from ours:
    # a run with much steal is slower all over and worth repeating.
    steal = 100.0 * (steal_after - steal_before) / max(1, all_after - all_before)
    print("Machine: %s; CPU steal during the run %.1f%%\n" % (machine(), steal))
    print_table(rows)
    if args.chart:
        draw_chart(args.chart, rows, scale)
        print("\nchart: %s" % args.chart)


if __name__ == "__main__":
    main()
