#!/usr/bin/env python3
"""Flood soak: both channels of the program flooded for minutes, every byte accounted for.

brisemer-replay floods COM201 (GPS recording) and COM202 (AIS recording) as fast as the
program reads them; brisemer-soak (the program with its probe, bench/soak/soakprobe.h)
shows them. Every SEGMENT seconds the driver has the program save both panes and empty
them in one go, and compares the saved text byte for byte with what the replay tool sent
(the program saves into named pipes, so gigabytes of text never touch the disk); at the
end the last save and the pending lines must account for exactly the bytes the tool
reports. Meanwhile the probe reports memory once a second and each status
refresh, and the driver checks that

  - the heap in use stays proportional to the text the panes keep, and falls back to
    where it started each time the panes are emptied (nothing is held for the text that
    is gone);
  - the status refresh keeps its 2000 ms rhythm (intervals around a save are listed
    apart: the save runs on the user-interface thread, as the program's own save does).

Memory and rhythm are only reported, not checked, with --sanitized: the sanitizers
allocate and run at their own pace.

Usage: flood.py --program brisemer-soak --replay brisemer-replay --data DIR
                [--seconds N] [--segment N] [--sanitized] [--keep]
Exit status 0 when every check passed.
"""

import argparse
import os
import queue
import shutil
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "e2e"))
import e2ekit  # noqa: E402  (the end-to-end harness: scratch folders, the replay tool, wire bytes)

GPS_RECORDING = "telit-he910.log"
AIS_RECORDING = "sample.aivdm"
REFRESH_MS = 2000
MB = 1 << 20
# Bytes of the pane's line index per line kept.
INDEX_BYTES_PER_LINE = 16
# Heap allowed beyond the text kept and its index, and beyond the start once emptied.
HEAP_FACTOR = 1.25
HEAP_SLACK = 32 * MB
HEAP_AFTER_EMPTYING = 16 * MB
RSS_FACTOR = 1.5
RSS_SLACK = 64 * MB


class SoakFailure(Exception):
    pass


def repeated(stream, start, count):
    """count bytes of stream played over and over, from offset start of that endless play."""
    if count <= 0:
        return b""
    offset = start % len(stream)
    copies = (offset + count) // len(stream) + 1
    return (stream * copies)[offset:offset + count]


class Channel:
    """What one channel was sent and what its saved panes held so far."""

    def __init__(self, name, port, wire):
        self.name = name
        self.port = port
        self.wire = wire
        self.saved_form = wire.replace(b"\r", b"\r\n")
        self.saved_bytes = 0
        self.saved_crs = 0
        self.files = 0
        self.failure = None
        self.sent = None

    def check_saved(self, path):
        """Compares one saved pane with the endless play of the recording, where the last
        saved pane left off."""
        file_start = self.saved_bytes
        with open(path, "rb", buffering=0) as f:
            while True:
                chunk = f.read(8 * MB)
                if not chunk:
                    break
                expected = repeated(self.saved_form, self.saved_bytes, len(chunk))
                if chunk != expected and self.failure is None:
                    at = next(i for i in range(min(len(chunk), len(expected))) if chunk[i] != expected[i])
                    self.failure = (f"{self.name}: saved pane {self.files + 1} differs at its byte "
                                    f"{self.saved_bytes - file_start + at}: got {chunk[at:at + 60]!r}, "
                                    f"expected {expected[at:at + 60]!r}")
                self.saved_bytes += len(chunk)
                self.saved_crs += chunk.count(b"\r")
        self.files += 1

    def received_in_saves(self):
        # Each saved line break is the CR that was received plus an LF the save added.
        return self.saved_bytes - self.saved_crs

    def check_pending(self, pending):
        shown = self.received_in_saves()
        expected = repeated(self.wire, shown, self.sent - shown)
        if pending != expected and self.failure is None:
            self.failure = (f"{self.name}: {shown} bytes in the saved panes and {len(pending)} pending, "
                            f"but {self.sent} were sent (pending {pending[:60]!r}, expected {expected[:60]!r})")


class Program:
    """brisemer-soak with its reports read on a thread of their own."""

    def __init__(self, scratch, exe):
        self.scratch = scratch
        self.samples = []
        self.refreshes = []
        self.saves = []
        self.errors = []
        self.closed = []
        self.replies = queue.Queue()
        self.lock = threading.Lock()
        self.started = None
        self.exe = os.path.join(scratch.bin, "brisemer-soak")
        shutil.copy2(exe, self.exe)
        with scratch.log("brisemer-soak.log") as log:
            self.proc = subprocess.Popen([self.exe], env=scratch.env, cwd=scratch.bin, stdin=subprocess.PIPE,
                                         stdout=subprocess.PIPE, stderr=log)
        scratch.processes.append(self.proc)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.proc.stdout:
            words = raw.decode(errors="replace").rstrip("\n").split(" ")
            kind = words[0]
            with self.lock:
                if kind == "sample":
                    sample = {"t": int(words[1])}
                    sample.update({k: int(v) for k, v in (w.split("=", 1) for w in words[2:])})
                    self.samples.append(sample)
                elif kind == "refresh":
                    self.refreshes.append(int(words[1]))
                elif kind == "error":
                    self.errors.append(" ".join(words[1:]))
                elif kind == "closed":
                    self.closed.append(words[1])
                elif kind == "started":
                    self.started = dict(w.split("=", 1) for w in words[1:])
                elif kind == "saved":
                    self.saves.append((int(words[1]), int(words[2]), int(words[3].split("=", 1)[1])))
                    self.replies.put(kind)
                else:
                    self.replies.put(kind)

    def command(self, line, reply, timeout):
        self.proc.stdin.write((line + "\n").encode())
        self.proc.stdin.flush()
        deadline = time.monotonic() + timeout
        while True:
            try:
                got = self.replies.get(timeout=max(0.1, deadline - time.monotonic()))
            except queue.Empty:
                got = None
            if got == reply:
                return
            if time.monotonic() >= deadline or self.proc.poll() is not None:
                raise SoakFailure(f"no '{reply}' from the program after '{line}'")

    def last_sample(self):
        with self.lock:
            return dict(self.samples[-1]) if self.samples else None


def save_and_check(program, scratch, channels):
    """Has the program save both panes into named pipes and empty them, and compares what
    comes through the pipes as it comes: gigabytes of panes never touch the disk."""
    pipes = [scratch.path(f"{c.name.lower()}.pipe") for c in channels]
    for pipe in pipes:
        if not os.path.exists(pipe):
            os.mkfifo(pipe)
    readers = [threading.Thread(target=c.check_saved, args=(pipe,), daemon=True) for c, pipe in zip(channels, pipes)]
    for reader in readers:
        reader.start()
    try:
        program.command(f"save {pipes[0]} {pipes[1]}", "saved", timeout=600)
    finally:
        for reader, pipe in zip(readers, pipes):
            reader.join(timeout=30)
            if reader.is_alive():
                # The program never opened this pipe: let the reader see an empty save.
                os.close(os.open(pipe, os.O_WRONLY | os.O_NONBLOCK))
                reader.join()


def rhythm(program, flood_start_ms, flood_end_ms):
    """Intervals between status refreshes during the flood: (plain, around a save).

    A save runs on the user-interface thread, so the refresh due meanwhile comes late; the
    timer keeps its schedule, so the next interval is as much shorter. Both count as
    around the save."""
    times = [t for t in program.refreshes if flood_start_ms <= t <= flood_end_ms]
    plain, saving = [], []
    after_save = False
    for a, b in zip(times, times[1:]):
        held = any(s0 < b and s1 > a for s0, s1, _ in program.saves)
        (saving if held or after_save else plain).append(b - a)
        after_save = held
    return plain, saving


def run(args):
    channels = [Channel("GPS", "COM201", e2ekit.wire_bytes(os.path.join(args.data, GPS_RECORDING))),
                Channel("AIS", "COM202", e2ekit.wire_bytes(os.path.join(args.data, AIS_RECORDING)))]
    scratch = e2ekit.Scratch("soak-flood")
    scratch.env["QT_QPA_PLATFORM"] = "offscreen"
    ok = False
    try:
        settings = os.path.join(scratch.bin, "brisemer-soak.INI")
        replay = e2ekit.Replay(scratch, args.replay, [
            "--port", f"COM201:4800:{os.path.join(args.data, GPS_RECORDING)}",
            "--port", f"COM202:38400:{os.path.join(args.data, AIS_RECORDING)}",
            "--flood", "--loop", "forever", "--duration", str(args.seconds), "--settings-file", settings])
        program = Program(scratch, args.program)
        e2ekit.wait_for(lambda: program.started or program.proc.poll() is not None, 60, "the program to start")
        if program.started != {"gps": "1", "ais": "1"}:
            raise SoakFailure(f"the program did not open both ports at start-up: {program.started}")
        base = program.last_sample()

        replay.release()
        flood_start = program.last_sample()["t"]
        began = time.monotonic()
        segment = 0
        while replay.proc.poll() is None:
            time.sleep(min(1.0, max(0.05, began + (segment + 1) * args.segment - time.monotonic())))
            if time.monotonic() >= began + (segment + 1) * args.segment and replay.proc.poll() is None:
                segment += 1
                save_and_check(program, scratch, channels)
                print(f"  {time.monotonic() - began:6.0f} s: saved and compared {segment} time(s); "
                      f"{sum(c.saved_bytes for c in channels) / MB:,.0f} MB so far", flush=True)
        stats = replay.wait_stats(timeout=120)
        flood_end = program.last_sample()["t"]
        for channel in channels:
            channel.sent = stats[channel.port]["bytes"]

        # The last bytes may still be on their way through the port.
        def all_received():
            s = program.last_sample()
            return s["gps_received"] == channels[0].sent and s["ais_received"] == channels[1].sent
        try:
            e2ekit.wait_for(all_received, 120, "the program to receive every byte sent")
        except e2ekit.E2EFailure:
            s = program.last_sample()
            raise SoakFailure(f"received GPS {s['gps_received']} of {channels[0].sent} bytes, "
                              f"AIS {s['ais_received']} of {channels[1].sent}") from None
        segment += 1
        save_and_check(program, scratch, channels)
        gps_pending, ais_pending = scratch.path("gps.pending"), scratch.path("ais.pending")
        program.command(f"pending {gps_pending} {ais_pending}", "pending", timeout=60)
        for channel, path in zip(channels, (gps_pending, ais_pending)):
            with open(path, "rb") as f:
                channel.check_pending(f.read())
        program.command("quit", "bye", timeout=60)
        if program.proc.wait(timeout=60) != 0:
            raise SoakFailure(f"the program ended with status {program.proc.returncode}")

        failures = [c.failure for c in channels if c.failure]
        failures += [f"error box: {e}" for e in program.errors]
        report, checks = analyse(args, program, base, flood_start, flood_end)
        failures += checks
        print(f"flood soak: {args.seconds} s of flood on both channels, saved and emptied every "
              f"{args.segment} s ({segment} saves)")
        for c in channels:
            print(f"  {c.name}: {c.sent:,} bytes sent; {c.received_in_saves():,} in {c.files} saved panes "
                  f"({c.saved_bytes:,} bytes of files compared) and {c.sent - c.received_in_saves():,} pending: "
                  f"{'all accounted for' if not c.failure else 'MISMATCH'}")
        for line in report:
            print("  " + line)
        for f in failures:
            print("FAILED: " + f)
        ok = not failures
        print("RESULT: " + ("PASS" if ok else "FAIL"), flush=True)
        return 0 if ok else 1
    finally:
        scratch.close(keep=args.keep or not ok)
        if args.keep or not ok:
            print(f"scratch folder kept: {scratch.root}")


def analyse(args, program, base, flood_start, flood_end):
    report, failures = [], []
    samples = [s for s in program.samples if flood_start <= s["t"] <= flood_end]
    footprint = [s["gps_kept"] + s["ais_kept"] + INDEX_BYTES_PER_LINE * (s["gps_lines"] + s["ais_lines"])
                 for s in samples]
    peak = max(range(len(samples)), key=lambda i: footprint[i]) if samples else None
    if peak is not None:
        report.append(f"memory: text kept at most {footprint[peak] / MB:,.0f} MB (with its line index); "
                      f"heap {base['heap'] / MB:,.0f} MB at start, {samples[peak]['heap'] / MB:,.0f} MB then; "
                      f"resident {base['rss_kb'] / 1024:,.0f} MB at start, "
                      f"{max(s['rss_kb'] for s in samples) / 1024:,.0f} MB at most")
    after_emptying = [heap - base["heap"] for _, _, heap in program.saves]
    if after_emptying:
        report.append(f"memory: heap after each emptying, above the start: at most "
                      f"{max(after_emptying) / MB:,.1f} MB over {len(after_emptying)} emptyings")
    measurable = base["heap"] > 0 and not args.sanitized
    if measurable:
        peak_footprint = 0
        for s, fp in zip(samples, footprint):
            peak_footprint = max(peak_footprint, fp)
            grown = s["heap"] - base["heap"]
            if grown > HEAP_FACTOR * fp + HEAP_SLACK:
                failures.append(f"heap grew by {grown / MB:,.0f} MB at {s['t'] / 1000:.0f} s with "
                                f"{fp / MB:,.0f} MB of text kept")
                break
            rss_grown = (s["rss_kb"] - base["rss_kb"]) * 1024
            if rss_grown > RSS_FACTOR * peak_footprint + RSS_SLACK:
                failures.append(f"resident memory grew by {rss_grown / MB:,.0f} MB at {s['t'] / 1000:.0f} s; "
                                f"the text kept was never above {peak_footprint / MB:,.0f} MB")
                break
        if after_emptying and max(after_emptying) > HEAP_AFTER_EMPTYING:
            failures.append(f"the heap stayed {max(after_emptying) / MB:,.0f} MB above its start after the "
                            "panes were emptied")
    else:
        report.append("memory: not checked (sanitizer build or no heap figures)")

    plain, saving = rhythm(program, flood_start, flood_end)
    if plain:
        worst = max(abs(i - REFRESH_MS) for i in plain)
        report.append(f"status refresh: {len(plain) + len(saving)} intervals during the flood; without a save: "
                      f"min {min(plain)} ms, median {statistics.median(plain):.0f} ms, max {max(plain)} ms, "
                      f"largest deviation {worst} ms")
        if saving:
            report.append(f"status refresh: {len(saving)} intervals around a save (longest save "
                          f"{max(s1 - s0 for s0, s1, _ in program.saves)} ms): {min(saving)} to {max(saving)} ms")
        if not args.sanitized and worst > args.refresh_tolerance:
            failures.append(f"a status refresh came {worst} ms away from its 2000 ms rhythm "
                            f"(tolerance {args.refresh_tolerance} ms)")
    elif flood_end - flood_start >= 3 * REFRESH_MS:
        failures.append("no status refresh during the flood")
    expected = (flood_end - flood_start) // REFRESH_MS
    ticks = len(plain) + len(saving) + 1
    if ticks < expected - len(program.saves) - 1:
        failures.append(f"only {ticks} status refreshes in {(flood_end - flood_start) / 1000:.0f} s")
    return report, failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True, help="brisemer-soak executable")
    parser.add_argument("--replay", required=True, help="brisemer-replay executable")
    parser.add_argument("--data", required=True, help="folder of the NMEA/AIS recordings")
    parser.add_argument("--seconds", type=int, default=600, help="length of the flood (default 600)")
    parser.add_argument("--segment", type=int, default=30, help="seconds between saves (default 30)")
    parser.add_argument("--refresh-tolerance", type=int, default=250,
                        help="largest deviation from 2000 ms allowed between refreshes, in ms (default 250)")
    parser.add_argument("--sanitized", action="store_true", help="report memory and rhythm without checking")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    args = parser.parse_args()
    try:
        return run(args)
    except (SoakFailure, e2ekit.E2EFailure) as e:
        print(f"FAILED: {e}\nRESULT: FAIL", flush=True)
        return 1


if __name__ == "__main__":
    sys.exit(main())
