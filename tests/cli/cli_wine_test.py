#!/usr/bin/env python3
"""duvozeviv-cli.exe under Wine against the Linux vexel-module-sim on COM ports.

ctest runs this in the cross-build, inside scripts/wine-sandbox.sh, where
scripts/test-windows.sh has mapped COM ports to fixed paths that this test
binds simulators to, one simulator per case:

  VEXEL_TEST_CLI_PORTS    "COM5=/path COM6=/path ..." (at least four ports,
                          one of them COM10 or above)
  VEXEL_TEST_SIM_PROGRAM  the Linux vexel-module-sim
  VEXEL_TEST_COM_REQUIRED 1: a missing set-up fails instead of skipping

  cli_wine_test.py --cli build-win/cli/duvozeviv-cli.exe [--preload SHIM.so]

--preload gives the Wine processes (only them) the modem-line shim of
tests/wine/, with which Wine's event waits on a pseudo-terminal pend as on
Windows; without it they end early and empty and the serial layer looks at
the queue itself.
Checks exact texts, exit codes, the frames the module received and the
image it flashed. Exit status 0 passed, 1 failed, 77 skipped (no set-up).
"""

import argparse
import hashlib
import json
import os
import queue
import signal
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SANDBOX = ROOT / "scripts" / "wine-sandbox.sh"
DEADLINE = 60  # seconds for any one program to end; the slowest case needs 8

# Exit codes of the README's table.
OK, USAGE, IMAGE_FILE, PORT_OPEN, NO_CONNECT, NOT_RESPONDING, INVALID, INTERRUPTED = (
    0, 2, 3, 4, 5, 6, 7, 130)
FLASH = "b0ef5509550203040506070801"
# Wine 8's texts for the system errors the cases meet (ERROR_INVALID_FUNCTION,
# ERROR_FILE_NOT_FOUND), fixed here: taken from the program under test they
# would check nothing.
WINE_TEXTS = {1: "Invalid function", 2: "File not found"}

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print(f"    FAILED: {what}", flush=True)
    return condition


def check_eq(got, expected, what):
    return check(got == expected, f"{what}: got {got!r}, expected {expected!r}")


def expected_frames(image):
    """The requests a module receives for a whole run of @p image."""
    frames = ["b0ef0100", "b0ef5502aa04"]
    # SEND and SENDLAST share the command byte; the last chunk is the one
    # shorter than 64 bytes, or empty, or the 64 bytes that end the image.
    chunks = [image[i:i + 64] for i in range(0, len(image), 64)] or [b""]
    for chunk in chunks:
        frames.append(f"b0ef66{len(chunk):02x}" + chunk.hex())
    frames.append(FLASH)
    return frames


def image_of(length):
    return bytes((i * 31 + 7) & 0xFF for i in range(length))


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


class Sim:
    """One vexel-module-sim bound to a COM port's fixed path."""

    def __init__(self, program, link, *args):
        self.link = link
        if os.path.lexists(link):
            os.unlink(link)
        self.process = subprocess.Popen(
            [program, "--json", "--link", link, *args],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        self.events = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        first = self._next_line(10)
        if first is None or not os.path.exists(link):
            raise RuntimeError(f"vexel-module-sim made no line at {link}")

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line)
        self.lines.put(None)

    def _next_line(self, seconds):
        try:
            return self.lines.get(timeout=seconds)
        except queue.Empty:
            return None

    def collect(self):
        while True:
            try:
                line = self.lines.get_nowait()
            except queue.Empty:
                return self.events
            if line is None:
                return self.events
            self.events.append(json.loads(line))

    def requests(self):
        return [e for e in self.collect() if e["event"] == "request"]

    def stop(self):
        """Ends the simulator (if it has not ended) and returns its status."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            status = self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            status = self.process.wait()
        self.reader.join(10)
        self.collect()
        return status

    def wait(self):
        try:
            return self.process.wait(DEADLINE)
        except subprocess.TimeoutExpired:
            return self.stop()


class Run:
    def __init__(self, code, out, err):
        self.code, self.out, self.err = code, out, err

    def lines(self):
        return self.out.splitlines()


class Live:
    """A program watched while it runs: its stdout a line at a time."""

    def __init__(self, process):
        self.process = process
        self.queue = queue.Queue()
        self.out = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.queue.put(line.decode())
        self.queue.put(None)

    def wait_for(self, wanted):
        """Reads lines until one is @p wanted (true) or the output ends."""
        end = time.monotonic() + DEADLINE
        while time.monotonic() < end:
            try:
                line = self.queue.get(timeout=1)
            except queue.Empty:
                continue
            if line is None:
                self.queue.put(None)
                return False
            self.out.append(line)
            if wanted(line):
                return True
        return False

    def interrupt(self):
        self.process.send_signal(signal.SIGINT)

    def finish(self):
        """Waits for the end: exit status, every stdout line, stderr."""
        try:
            code = self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            code = self.process.wait()
        while True:
            line = self.queue.get(timeout=10)
            if line is None:
                break
            self.out.append(line)
        return code, self.out, Harness.text(self.process.stderr.read(), "stderr")


class Harness:
    def __init__(self, cli, sim, ports, work, preload):
        self.cli, self.sim, self.ports, self.work = cli, sim, ports, work
        self.sims = []
        self.env = dict(os.environ)
        if preload:
            self.env["LD_PRELOAD"] = preload

    def start_sim(self, port, *args):
        sim = Sim(self.sim, self.ports[port], *args)
        self.sims.append(sim)
        return sim

    def stop_sims(self):
        statuses = [sim.stop() for sim in self.sims]
        self.sims = []
        return statuses

    def command(self, args):
        return [str(SANDBOX), "wine", self.cli, *args]

    def start(self, *args):
        """The program running in the background, watched line by line."""
        return Live(subprocess.Popen(self.command(args), stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=self.env))

    def run(self, *args):
        try:
            done = subprocess.run(self.command(args), capture_output=True, timeout=DEADLINE,
                                  env=self.env)
        except subprocess.TimeoutExpired:
            check(False, f"duvozeviv-cli {' '.join(args)} did not end in {DEADLINE} s")
            return Run(None, "", "")
        return Run(done.returncode, self.text(done.stdout, "stdout"),
                   self.text(done.stderr, "stderr"))

    @staticmethod
    def text(data, stream):
        """The program's text with Windows line ends, checked and made plain."""
        text = data.decode("utf-8", "replace")
        bare = text.replace("\r\n", "")
        check("\n" not in bare, f"{stream} has a line end without CR: {text!r}")
        return text.replace("\r\n", "\n")

    def write_image(self, length, name=None):
        path = self.work / (name or f"image-{length}.mbf")
        data = image_of(length)
        path.write_bytes(data)
        return path, data


def summary_row_loaded(row, port, length):
    """A pseudo-terminal beats the line's ceiling, whose share then shows as
    "unpaced"."""
    fields = row.split()
    return (len(fields) == 7 and fields[0] == port and fields[1:3] == ["MODULE", "LOADED"]
            and fields[3] == str(length)
            and (fields[6].endswith("%") or fields[6] == "unpaced"))


def without_unpaced_note(lines):
    """The lines without the note that follows a table with an unpaced row."""
    note = "unpaced: faster than 57600 baud 8E2 allows: the line is not paced like a UART"
    return [line for line in lines if line != note]


def case_images_are_loaded_byte_exact(h, ports):
    """0, 64, 65 and 3000 bytes, each on a port of its own, one of them COM10
    or above: exact frames, the image flashed as sent, the probe window kept."""
    high = next(p for p in ports if int(p[3:]) >= 10)
    low = [p for p in ports if p != high]
    for length, port in ((0, low[0]), (64, low[1]), (65, high), (3000, low[2])):
        print(f"  {length} bytes on {port}", flush=True)
        path, data = h.write_image(length)
        received = h.work / f"received-{length}.mbf"
        sim = h.start_sim(port, "--count", "1", "--out", str(received))
        run = h.run("-p", port, windows_path(path))
        check_eq(run.code, OK, f"{length} bytes: exit status ({run.err})")
        check_eq(run.err, "", f"{length} bytes: stderr")
        lines = without_unpaced_note(run.lines())
        if check(len(lines) >= 9, f"{length} bytes: output {run.out!r}"):
            check_eq(lines[:4], [f"{port}: connecting", f"{port}: CONNECTED",
                                 f"{port}: sending {length} bytes", f"{port}: PROGRAMMING"],
                     f"{length} bytes: first lines")
            check_eq(lines[-5], f"{port}: MODULE LOADED", f"{length} bytes: result line")
            check(summary_row_loaded(lines[-2], port, length), f"{length} bytes: row {lines[-2]!r}")
            check_eq(lines[-1], "1 of 1 modules loaded; exit status 0",
                     f"{length} bytes: last line")
        check_eq(sim.wait(), 0, f"{length} bytes: simulator status (violations?)")
        requests = sim.requests()
        check_eq([r["frame"] for r in requests], expected_frames(data), f"{length} bytes: frames")
        check(received.exists() and received.read_bytes() == data, f"{length} bytes: flashed image")
        if len(requests) >= 2:
            window = requests[1]["t_ms"] - requests[0]["t_ms"]
            check(window >= 1000, f"{length} bytes: INIT {window} ms after CONNECT, not after "
                                  "the one-second probe window")
        h.stop_sims()


def case_trace_json_and_watcher_threads(h, ports):
    """--trace shows every frame as sent and received; --json follows the run;
    --watcher-threads loads as well."""
    path, data = h.write_image(65)
    sim = h.start_sim(ports[0])
    run = h.run("--quiet", "--trace", "-p", ports[0], windows_path(path))
    check_eq(run.code, OK, f"--trace: exit status ({run.err})")
    trace = []
    for line in run.err.splitlines():
        fields = line.split(None, 4)
        if not check(len(fields) == 5 and fields[0].isdigit() and fields[1] == ports[0],
                     f"--trace line {line!r}"):
            continue
        trace.append(" ".join(fields[2:]))
    spaced = lambda b: " ".join(f"{x:02X}" for x in b)  # noqa: E731
    check_eq(trace, [
        "TX CONNECT B0 EF 01 00", "RX CONNECT-REPLY B0 EF 00 01 00",
        "TX INIT B0 EF 55 02 AA 04", "RX ACK B0 EF AA 01 00",
        "TX SEND B0 EF 66 40 " + spaced(data[:64]), "RX ACK B0 EF AA 01 00",
        "TX SENDLAST B0 EF 66 01 " + spaced(data[64:]), "RX ACK B0 EF AA 01 00",
        "TX FLASH B0 EF 55 09 55 02 03 04 05 06 07 08 01", "RX ACK B0 EF AA 01 00",
    ], "--trace frames")
    check_eq(run.out, f"{ports[0]}: MODULE LOADED\n", "--trace --quiet: stdout")
    del sim

    path, _ = h.write_image(200)
    run = h.run("--json", "-p", ports[0], windows_path(path))
    check_eq(run.code, OK, f"--json: exit status ({run.err})")
    events = []
    for line in run.lines():
        try:
            event = json.loads(line)
        except ValueError:
            check(False, f"--json line is not JSON: {line!r}")
            continue
        events.append(event["event"])
        if event["event"] != "exit":
            check_eq(event["port"], ports[0], f"--json port of {line}")
    # A progress line still waiting for the writer gives way to the next one,
    # so a busy machine may show fewer than the three chunks' lines.
    check(1 <= events.count("progress") <= 3, f"--json progress lines: {events}")
    collapsed = [e for i, e in enumerate(events)
                 if not (e == "progress" and i > 0 and events[i - 1] == "progress")]
    check_eq(collapsed, ["connecting", "connected", "started", "status", "progress", "loaded",
                         "result", "exit"], "--json events")
    h.stop_sims()

    # A watcher thread per port, as the dialog program has.
    path, data = h.write_image(3000)
    sim = h.start_sim(ports[1])
    run = h.run("--quiet", "--watcher-threads", "-p", ports[1], windows_path(path))
    check_eq((run.code, run.out, run.err), (OK, f"{ports[1]}: MODULE LOADED\n", ""),
             "--watcher-threads")
    check_eq([r["frame"] for r in sim.requests()], expected_frames(data),
             "--watcher-threads: frames")
    h.stop_sims()


def case_each_failure_class(h, ports):
    """Every failure class the module can cause: its text and exit code."""
    path, _ = h.write_image(200)  # chunks at steps 2 to 5, FLASH at 6
    port = ports[0]
    for fault, code, text in (
            ("noreply@0", NO_CONNECT, "Unable to connect to module"),
            ("delay:1500@0", NO_CONNECT, "Unable to connect to module"),
            ("noreply@1", NOT_RESPONDING, "Module not responding"),
            ("wrong@1", INVALID, "Invalid response from module for INIT"),
            ("wrong@3", INVALID, "Invalid response from module for SEND"),
            ("wrong@5", INVALID, "Invalid response from module for SENDLAST"),
            ("wrong@6", INVALID, "Invalid response from module for FLASH")):
        print(f"  --fault {fault}", flush=True)
        h.start_sim(port, "--fault", fault)
        run = h.run("--quiet", "-p", port, windows_path(path))
        check_eq(run.code, code, f"{fault}: exit status")
        check_eq(run.err, f"{port}: {text}\n", f"{fault}: stderr")
        check_eq(run.out, "", f"{fault}: stdout")
        statuses = h.stop_sims()
        check(statuses[0] in (0, -signal.SIGTERM), f"{fault}: simulator status {statuses[0]}")


def case_missing_image_and_ports(h, ports):
    """A missing image, a COM port this machine lacks, one whose line is gone."""
    sim = h.start_sim(ports[0])
    missing = windows_path(h.work / "missing.mbf")
    run = h.run("-p", ports[0], missing)
    check_eq(run.code, IMAGE_FILE, "missing image: exit status")
    check_eq(run.err, f"duvozeviv-cli: Unable to open file {missing}: {WINE_TEXTS[2]}.\n",
             "missing image: stderr")
    check_eq(sim.requests(), [], "missing image: the module saw nothing")

    path, _ = h.write_image(10)
    run = h.run("-p", "COM9", windows_path(path))
    check_eq(run.code, PORT_OPEN, "COM9: exit status")
    check_eq(run.err, f"COM9: Cannot open open COM9: {WINE_TEXTS[2]}; there is no such COM port "
                      "here; --list-ports shows the serial ports\n", "COM9: stderr")
    h.stop_sims()

    # A mapped port whose line has gone: Wine opens it, then fails every
    # call, the first of them within the loader's open.
    if os.path.lexists(h.ports[ports[1]]):
        os.unlink(h.ports[ports[1]])
    run = h.run("-p", ports[1], windows_path(path))
    check_eq(run.code, PORT_OPEN, "port without a line: exit status")
    check_eq(run.err, f"{ports[1]}: Cannot open open {ports[1]}: {WINE_TEXTS[1]}\n",
             "port without a line: stderr")

    print("  SKIP a port in use by another program: Wine opens COM ports shared (a second "
          "CreateFile succeeds), so access denied cannot happen here", flush=True)


def case_four_ports_one_failing(h, ports):
    """Four modules at once, the third never acknowledging its second chunk."""
    path, data = h.write_image(3000)
    four = ports[:4]
    sims = [h.start_sim(p, *(["--fault", "noreply@3"] if i == 2 else []))
            for i, p in enumerate(four)]
    args = []
    for p in four:
        args += ["-p", p]
    run = h.run(*args, windows_path(path))
    check_eq(run.code, NOT_RESPONDING, "four ports: exit status")
    check_eq(run.err, f"{four[2]}: Module not responding\n", "four ports: stderr")
    lines = without_unpaced_note(run.lines())
    if check(len(lines) >= 7, f"four ports: output {run.out!r}"):
        table = lines[-6:]
        for row, port in ((table[1], four[0]), (table[2], four[1]), (table[4], four[3])):
            check(summary_row_loaded(row, port, 3000), f"four ports: row {row!r}")
        failed = table[3].split()
        check(failed[:5] == [four[2], "Module", "not", "responding", "64"],
              f"four ports: failed row {table[3]!r}")
        check_eq(table[-1], "3 of 4 modules loaded; exit status 6", "four ports: last line")
    for i, sim in enumerate(sims):
        if i == 2:
            continue
        check_eq([r["frame"] for r in sim.requests()], expected_frames(data),
                 f"four ports: frames on {four[i]}")
    h.stop_sims()


def case_ctrl_c(h, ports):
    """Ctrl-C (Wine turns SIGINT into CTRL_C_EVENT) in the middle of a run:
    130, every port closed, and the port loads again at once."""
    path, _ = h.write_image(300)
    port = ports[0]
    h.start_sim(port, "--fault", "delay:60000@3")
    live = h.start("--json", "-p", port, windows_path(path))
    if check(live.wait_for(lambda line: '"event":"progress"' in line),
             "Ctrl-C: no progress before it"):
        live.interrupt()
    code, out, err = live.finish()
    check_eq(code, INTERRUPTED, f"Ctrl-C: exit status ({err!r}, {out})")
    events = [json.loads(l) for l in out if l.strip()]
    check(len(events) >= 3 and events[-3]["event"] == "interrupted", f"Ctrl-C: events {events}")
    check(events and events[-1].get("exit_code") == INTERRUPTED, "Ctrl-C: exit line")
    run = h.run("--quiet", "-p", port, windows_path(path))
    check_eq(run.code, OK, f"after Ctrl-C the port loads again ({run.err})")
    h.stop_sims()


def audit_records(log, what):
    """The audit log's records; its lines end as the Windows edition writes
    them, with LF alone (the file is written as bytes, not as text)."""
    raw = log.read_bytes() if log.exists() else b""
    check(raw.endswith(b"\n") and b"\r" not in raw,
          f"{what}: audit log lines end with LF alone: {raw[-200:]!r}")
    return [json.loads(line) for line in raw.decode().split("\n") if line]


def module_events(events):
    """(event, state, module) of a station's JSON events, run events with the
    module they belong to. Progress lines give way to later ones when the
    reader lags behind, so a run of them counts as one."""
    out = []
    for e in events:
        item = (e["event"], e.get("state"), e.get("module"))
        if not (item[0] == "progress" and out and out[-1] == item):
            out.append(item)
    return out


def station_module_events(module, last):
    """What --json shows of one module of 200 bytes, found to taken off."""
    run = [("connected", None, module), ("started", None, module), ("status", None, module)]
    run += [("progress", None, module), ("loaded", None, module)]
    ended = [("module", "found", module), *run, ("module", "loaded", module)]
    return ended if last else ended + [("module", "removed", module)]


def case_station_three_modules(h, ports):
    """--station --count 3 on a fixture of three modules: each loaded once,
    byte-exact, one audit record each, the JSON events in order."""
    path, data = h.write_image(200)
    port = ports[0]
    flashed = h.work / "station-flashed"
    log = h.work / "station.jsonl"
    sim = h.start_sim(port, "--modules", "3", "--gap", "200", "--out", f"{flashed}/")
    run = h.run("--station", "--count", "3", "--json", "--log", windows_path(log), "-p", port,
                windows_path(path))
    check_eq((run.code, run.err), (OK, ""), "station: exit status and stderr")
    check_eq(sim.stop(), 0, "station: simulator status (violations?)")
    images = sorted(flashed.iterdir()) if flashed.is_dir() else []
    check_eq([p.name for p in images], [f"image-000{m}.mbf" for m in (1, 2, 3)],
             "station: flashed images")
    for image in images:
        check(image.read_bytes() == data, f"station: {image.name} differs from the image")
    check_eq([e["module"] for e in sim.events if e["event"] == "image"], [1, 2, 3],
             "station: the module of each image")

    records = audit_records(log, "station")
    check_eq([r["record"] for r in records], ["session_start", "module", "module", "module",
                                              "session_end"], "station: audit records")
    sha256 = hashlib.sha256(data).hexdigest()
    for record in records:
        check_eq((record["image"], record["size"], record["sha256"]),
                 (windows_path(path), len(data), sha256), f"station: image of {record}")
    modules = [r for r in records if r["record"] == "module"]
    check_eq([(r["port"], r["module"], r["outcome"], r["exit_code"], r["exit_class"], r["bytes"])
              for r in modules],
             [(port, m, "MODULE LOADED", OK, "loaded", len(data)) for m in (1, 2, 3)],
             "station: module records")
    end = records[-1] if records else {}
    check_eq((end.get("reason"), end.get("modules"), end.get("loaded"), end.get("exit_code")),
             ("count", 3, 3, OK), "station: session_end record")

    events = [json.loads(line) for line in run.lines()]
    expected = [("session", "started", None)]
    for module in (1, 2, 3):
        expected += station_module_events(module, module == 3)
    expected += [("stopped", None, None), ("result", None, None), ("session", "ended", None),
                 ("exit", None, None)]
    check_eq(module_events(events), expected, "station: --json events")
    check(all(e["port"] == port for e in events if e["event"] not in ("session", "exit")),
          f"station: port of every event: {events}")
    h.stop_sims()


def case_station_ctrl_c_while_waiting(h, ports):
    """Ctrl-C while the station waits for the next module: 0, and the log
    ends with the session interrupted."""
    path, _ = h.write_image(200)
    port = ports[1]
    log = h.work / "station-interrupted.jsonl"
    h.start_sim(port, "--modules", "1", "--gap", "200")
    live = h.start("--station", "--json", "--log", windows_path(log), "-p", port,
                   windows_path(path))
    removed = {"event": "module", "module": 1, "state": "removed"}
    if check(live.wait_for(lambda line: removed.items() <= json.loads(line).items()),
             "station Ctrl-C: module 1 never taken off"):
        live.interrupt()
    code, out, err = live.finish()
    check_eq((code, err), (OK, ""), f"station Ctrl-C: exit status and stderr ({out})")
    events = [json.loads(l) for l in out if l.strip()]
    check(events and events[-1] == {"event": "exit", "exit_code": OK,
                                    "elapsed": events[-1].get("elapsed")},
          f"station Ctrl-C: exit line {events[-1:]}")
    records = audit_records(log, "station Ctrl-C")
    check_eq([(r["record"], r.get("outcome")) for r in records],
             [("session_start", None), ("module", "MODULE LOADED"), ("session_end", None)],
             "station Ctrl-C: audit records")
    end = records[-1] if records else {}
    check_eq((end.get("reason"), end.get("loaded"), end.get("exit_code")),
             ("interrupted", 1, OK), "station Ctrl-C: session_end record")
    h.stop_sims()


def case_list_ports(h, ports):
    """--list-ports names the mapped COM ports, in order, COM10 and up last."""
    run = h.run("--list-ports")
    check_eq(run.code, OK, "--list-ports: exit status")
    lines = run.lines()
    check(lines and lines[0].split()[:1] == ["DEVICE"], f"--list-ports: header {run.out!r}")
    listed = [line.split()[0] for line in lines[1:]]
    check(all(p in listed for p in ports), f"--list-ports: {listed} lacks one of {ports}")
    numbers = [int(p[3:]) for p in listed if p.upper().startswith("COM")]
    check_eq(numbers, sorted(numbers), "--list-ports: order")
    run = h.run("--list-ports", "--json")
    devices = [json.loads(l)["device"] for l in run.lines()]
    check_eq(devices, listed, "--list-ports --json: devices")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--preload", help="the modem-line shim for the Wine processes")
    parser.add_argument("--only", default=os.environ.get("VEXEL_TEST_CLI_ONLY"),
                        help="run only the cases whose name holds this text (default: "
                             "$VEXEL_TEST_CLI_ONLY, which passes through ctest)")
    args = parser.parse_args()
    required = os.environ.get("VEXEL_TEST_COM_REQUIRED") == "1"
    spec = os.environ.get("VEXEL_TEST_CLI_PORTS", "").split()
    sim = os.environ.get("VEXEL_TEST_SIM_PROGRAM", "")
    ports = dict(item.split("=", 1) for item in spec)
    if len(ports) < 4 or not any(int(p[3:]) >= 10 for p in ports) or not os.access(sim, os.X_OK):
        print("SKIP: needs VEXEL_TEST_CLI_PORTS (four COM ports, one of them COM10 or above) "
              "and VEXEL_TEST_SIM_PROGRAM; scripts/test-windows.sh sets them up")
        return 1 if required else 77
    names = sorted(ports, key=lambda p: int(p[3:]))
    with tempfile.TemporaryDirectory(prefix="vexel-cli-wine-") as work:
        h = Harness(args.cli, sim, ports, Path(work), args.preload)
        cases = [case_images_are_loaded_byte_exact, case_trace_json_and_watcher_threads,
                 case_each_failure_class, case_missing_image_and_ports,
                 case_four_ports_one_failing, case_ctrl_c, case_station_three_modules,
                 case_station_ctrl_c_while_waiting, case_list_ports]
        for case in cases:
            if args.only and args.only not in case.__name__:
                continue
            print(f"{case.__name__}: {case.__doc__.splitlines()[0]}", flush=True)
            before = len(failures)
            started = time.monotonic()
            try:
                case(h, names)
            except Exception as error:  # a broken case must not hide the others
                check(False, f"{case.__name__} raised {error!r}")
            finally:
                h.stop_sims()
            verdict = "ok" if len(failures) == before else "FAILED"
            print(f"  {verdict} ({time.monotonic() - started:.1f} s)", flush=True)
    print(f"{len(failures)} failure(s)" if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
