"""Harness of the end-to-end tests.

The real brisemer executable runs on a virtual X display (Xvfb), fed by brisemer-replay
on pseudo-terminals, and is driven through xdotool the way a person drives it: clicks at
the positions of the window's layout, text typed into the dialogs, answers given with the
buttons' accelerator keys. The only windows the harness looks at are the program's own
top-level windows, found by their titles.

Each test gets a scratch folder holding a copy of the executable (so its settings file,
the executable's name with ".INI", lies in the scratch folder and never beside the
build's executable), a private HOME and XDG_CONFIG_HOME (so the serial-port map the
replay tool writes is private and names only its pseudo-terminals) and its own display.

Nothing here sleeps for a fixed time to let something happen: every step waits for a
condition (a window appears or goes, a file is complete, a lamp lights) with a deadline.
"""

import argparse
import fcntl
import os
import re
import shutil
import signal
import subprocess
import tempfile
import sys
import threading
import time
import tty
import unittest

ASAN_SUPPRESSIONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "asan.supp")

# Deadlines are generous: the sanitizer builds run the same tests several times slower.
WINDOW_TIMEOUT = 30.0
SAVE_TIMEOUT = 60.0

SETTINGS_TITLE = "^Paramétrage$"
MAIN_TITLE = "^Brisemer$"
SAVE_TITLE = "^Enregistrer sous$"
CONFIRM_TITLE = "^Confirmer$"
INFO_TITLE = "^Informations$"

# Controls of the main window: left, top, width, height within its client area.
MAIN_LAYOUT = {
    "VrLedOnGPS": (103, 18, 61, 15),
    "VrLedOffGPS": (103, 31, 61, 15),
    "VrLedOnAIS": (391, 18, 61, 15),
    "VrLedOffAIS": (391, 31, 61, 15),
    "SpBtnAIS": (357, 21, 23, 22),
    "SpBtnGPS": (72, 21, 23, 22),
    "btnClearGPStxt": (256, 293, 141, 25),
    "btnClearAIStxt": (272, 542, 141, 25),
    "BtnClose1": (79, 52, 107, 25),
    "BtnClose2": (367, 52, 107, 25),
    "btnSaveAIStxt": (10, 543, 129, 25),
    "btnSaveGPStxt": (11, 294, 129, 25),
    "btnQuit": (599, 541, 113, 27),
    "BitBtn1": (610, 20, 102, 25),
    "Memo1": (8, 84, 704, 202),
    "Memo2": (8, 333, 704, 202),
}

# Controls of the port settings dialog.
SETTINGS_LAYOUT = {
    "BtnOK": (16, 232, 75, 25),
    "BtnCancel": (112, 232, 75, 25),
    "CBoxBaudRate": (24, 32, 65, 21),
    "nrDeviceBox1": (31, 179, 67, 21),
}

CHANNELS = {
    "GPS": {"settings": "SpBtnGPS", "save": "btnSaveGPStxt", "close": "BtnClose1", "pane": "Memo1",
            "on": "VrLedOnGPS", "off": "VrLedOffGPS"},
    "AIS": {"settings": "SpBtnAIS", "save": "btnSaveAIStxt", "close": "BtnClose2", "pane": "Memo2",
            "on": "VrLedOnAIS", "off": "VrLedOffAIS"},
}

# Lit lamp colours: lime for "On", red for "Off" (their dark colours are green and maroon).
LIT_COLOUR = {"on": "#00FF00", "off": "#FF0000"}


class E2EFailure(AssertionError):
    pass


# The current test's step log (steps.log in its scratch folder): what it waited for and
# how long, to read when a test fails or runs slowly.
_step_log = None


def log_step(text):
    if _step_log:
        _step_log.write(f"{time.monotonic():12.3f} {text}\n")
        _step_log.flush()


def wait_for(condition, timeout, what, interval=0.05):
    """Polls condition() until it returns something true and returns that."""
    start = time.monotonic()
    deadline = start + timeout
    while True:
        value = condition()
        if value:
            log_step(f"{time.monotonic() - start:7.2f} s  {what}")
            return value
        if time.monotonic() >= deadline:
            log_step(f"timed out waiting for {what}")
            raise E2EFailure(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


# --- What the program must show -----------------------------------------------------------


def ubx_frame_length(data, at):
    """Length of a UBX frame with a valid checksum at `at` (sync B5 62), else 0."""
    if len(data) < at + 8 or data[at] != 0xB5 or data[at + 1] != 0x62:
        return 0
    total = 6 + (data[at + 4] | data[at + 5] << 8) + 2
    if len(data) - at < total:
        return 0
    a = b = 0
    for byte in data[at + 2:at + total - 2]:
        a = (a + byte) & 0xFF
        b = (b + a) & 0xFF
    return total if (a, b) == (data[at + total - 2], data[at + total - 1]) else 0


def wire_bytes(recording, raw=False, loops=1):
    """The bytes brisemer-replay sends for a recording: the file as it is with --raw;
    otherwise header lines ('#') and blank lines left out, every line ended by CR LF and
    binary UBX frames passed byte for byte."""
    with open(recording, "rb") as f:
        data = f.read()
    if raw:
        return data * loops
    out, at = [], 0
    while at < len(data):
        frame = ubx_frame_length(data, at)
        if frame:
            out.append(data[at:at + frame])
            at += frame
            continue
        feed = data.find(b"\n", at)
        nxt = len(data) if feed < 0 else feed + 1
        line = data[at:nxt].rstrip(b"\n")
        at = nxt
        if line.endswith(b"\r"):
            line = line[:-1]
        if line and not line.startswith(b"#"):
            out.append(line + b"\r\n")
    return b"".join(out) * loops


def pane_lines(sent):
    """The lines a pane shows for the bytes received: each carriage return ends a line (and
    is dropped), every other byte - the line feed too - belongs to the line it starts or
    continues. Bytes after the last carriage return are still pending and not shown."""
    return sent.split(b"\r")[:-1]


def saved_text(lines, first_line=None):
    """A saved pane: every line followed by CR LF, after the pane's first line if it was
    never cleared."""
    head = [first_line] if first_line is not None else []
    return b"".join(line + b"\r\n" for line in head + list(lines))


def settings_text(gps, ais):
    """The settings file the program writes from nothing: each channel as
    (port, baud, data bits, stop bits, parity)."""
    text = ""
    for section, (port, baud, data_bits, stop_bits, parity) in (("ComPort GPS", gps), ("ComPort AIS", ais)):
        text += f"[{section}]\r\nComNb={port}\r\nBaudRate={baud}\r\nDataBits={data_bits}\r\n"
        text += f"StopBits={stop_bits}\r\nParity={parity}\r\n"
    return text.encode("ascii")


def change_file_ext(name, extension):
    """The name with its extension (from the last "." of the file name part on) replaced,
    or the extension appended: the rule the program applies to a typed save name."""
    folder, base = os.path.split(name)
    dot = base.rfind(".")
    return os.path.join(folder, (base[:dot] if dot >= 0 else base) + extension)


def describe_difference(got, expected):
    """Where two byte strings part, for failure messages."""
    n = 0
    limit = min(len(got), len(expected))
    while n < limit and got[n] == expected[n]:
        n += 1
    line = expected[:n].count(b"\r\n") + 1
    return (f"got {len(got)} bytes, expected {len(expected)}; first difference at byte {n} "
            f"(saved line {line}): got {got[n:n + 60]!r}, expected {expected[n:n + 60]!r}")


# --- Processes ----------------------------------------------------------------------------


class Scratch:
    """A test's scratch folder, private home and environment. Kept when the test fails."""

    def __init__(self, name):
        self.root = tempfile.mkdtemp(prefix=f"brisemer-e2e-{name}-")
        self.home = os.path.join(self.root, "home")
        self.config = os.path.join(self.home, "config")
        self.runtime = os.path.join(self.root, "runtime")
        self.bin = os.path.join(self.root, "bin")
        for folder in (self.config, self.runtime, self.bin):
            os.makedirs(folder)
        os.chmod(self.runtime, 0o700)
        self.env = dict(os.environ)
        self.env.update(HOME=self.home, XDG_CONFIG_HOME=self.config, XDG_RUNTIME_DIR=self.runtime,
                        QT_QPA_PLATFORM="xcb", LC_ALL="C.UTF-8")
        for key in ("WAYLAND_DISPLAY", "SESSION_MANAGER", "QT_SCALE_FACTOR"):
            self.env.pop(key, None)
        # Sanitizer builds: what the X11 libraries are known to do is not the program's fault.
        asan = [self.env["ASAN_OPTIONS"]] if self.env.get("ASAN_OPTIONS") else []
        self.env["ASAN_OPTIONS"] = ":".join(asan + [f"suppressions={ASAN_SUPPRESSIONS}"])
        self.processes = []
        # "COMn" -> device of the ports a replay tool serves in this test.
        self.served_ports = {}
        global _step_log
        _step_log = open(self.path("steps.log"), "w", encoding="utf-8")

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def map_port(self, name, device):
        """Appends "name = device" to the user's serial-port map, as a person edits it."""
        folder = os.path.join(self.config, "serialcomm")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "ports"), "a", encoding="utf-8") as f:
            f.write(f"{name} = {device}\n")
        self.served_ports[name] = device

    def log(self, name):
        return open(self.path(name), "wb")

    def spawn(self, args, log_name, **kwargs):
        with self.log(log_name) as log:
            proc = subprocess.Popen(args, env=self.env, stdout=kwargs.pop("stdout", log), stderr=log,
                                    stdin=subprocess.DEVNULL, **kwargs)
        self.processes.append(proc)
        return proc

    def close(self, keep):
        # Last started, first stopped: the program before the replay before the display.
        for proc in reversed(self.processes):
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
        global _step_log
        if _step_log:
            _step_log.close()
            _step_log = None
        if not keep:
            shutil.rmtree(self.root, ignore_errors=True)


class VirtualDisplay:
    """An Xvfb server of the test's own. The display counts as up once a client can talk
    to it.

    Display numbers are taken from FIRST_DISPLAY upward, clear of the low numbers that
    desktops and other virtual displays pick first; a number whose lock file exists is
    skipped, and a server that cannot take its number ends at once and the next is tried.
    Tests running in parallel start their servers one after the other (a file lock), so
    they never race for a number."""

    FIRST_DISPLAY = 160
    DISPLAYS = 200
    LOCK = os.path.join(tempfile.gettempdir(), "brisemer-e2e-display.lock")

    def __init__(self, scratch):
        self.scratch = scratch
        with open(self.LOCK, "a") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            for number in range(self.FIRST_DISPLAY, self.FIRST_DISPLAY + self.DISPLAYS):
                if os.path.exists(f"/tmp/.X{number}-lock"):
                    continue
                name = f":{number}"
                # -noreset: by default the server resets when its last client leaves and
                # drops the connections that arrive meanwhile - the probe below is such a
                # client, and xdotool calls come and go all the time.
                proc = scratch.spawn(["Xvfb", name, "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                                      "-noreset"], f"xvfb-{number}.log")
                scratch.env["DISPLAY"] = name
                if self._answers(proc):
                    self.proc, self.name = proc, name
                    log_step(f"display {name} up")
                    return
                log_step(f"display {name} did not answer")
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()
        raise E2EFailure("no virtual display could be started (see xvfb-*.log)")

    def _answers(self, proc):
        deadline = time.monotonic() + WINDOW_TIMEOUT
        while proc.poll() is None and time.monotonic() < deadline:
            if self.answering():
                return True
            time.sleep(0.1)
        return False

    def answering(self):
        probe = subprocess.run(["xdotool", "getdisplaygeometry"], env=self.scratch.env, capture_output=True,
                               timeout=30)
        return probe.returncode == 0

    def state(self):
        """For failure messages: whether the server still runs and answers."""
        if self.proc.poll() is not None:
            return f"the X server of {self.name} has ended with status {self.proc.returncode}"
        return f"the X server of {self.name} {'answers' if self.answering() else 'runs but does not answer'}"


class Desktop:
    """xdotool and ImageMagick on one display."""

    def __init__(self, scratch):
        self.scratch = scratch
        self.display = None

    def xdotool(self, *args, check=True):
        result = subprocess.run(["xdotool", *map(str, args)], env=self.scratch.env, capture_output=True,
                                text=True, timeout=30)
        if check and result.returncode != 0:
            raise E2EFailure(f"xdotool {' '.join(map(str, args))} failed: {result.stderr.strip()}")
        return result.stdout

    def windows(self, title):
        """Visible top-level windows whose title matches the regular expression."""
        out = self.xdotool("search", "--onlyvisible", "--name", title, check=False)
        return [int(w) for w in out.split()]

    def wait_window(self, title, timeout=WINDOW_TIMEOUT):
        return wait_for(lambda: self.windows(title), timeout, f"a window titled {title}")[0]

    def wait_window_count(self, title, count, timeout=WINDOW_TIMEOUT):
        wait_for(lambda: len(self.windows(title)) == count, timeout, f"{count} window(s) titled {title}")

    def origin(self, window):
        out = self.xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=", 1) for line in out.split())
        return int(values["X"]), int(values["Y"])

    def click(self, window, rect):
        """A left click in the middle of a control at rect (client coordinates)."""
        left, top, width, height = rect
        self.xdotool("mousemove", "--window", window, left + width // 2, top + height // 2)
        self.xdotool("click", "1")

    def focused(self):
        # Fails while the focus follows the pointer (no window has it).
        out = self.xdotool("getwindowfocus", check=False).strip()
        return int(out) if out.isdigit() else None

    def wait_focus(self, window, timeout=WINDOW_TIMEOUT):
        """Waits until the program has given the window the keyboard focus, so that keys
        typed next reach it and not the window below."""
        wait_for(lambda: self.focused() == window, timeout, f"window {window} to get the keyboard focus")

    def geometry(self, window):
        out = self.xdotool("getwindowgeometry", "--shell", window, check=False)
        return out if "WIDTH=" in out else None

    def wait_new_windows_settled(self, pid, before, quiet=0.25, timeout=WINDOW_TIMEOUT):
        """Waits until the program shows windows beyond `before` and they have kept their
        number and geometry for `quiet` seconds; returns their ids."""
        def snapshot():
            return {w: self.geometry(w) for w in set(self.windows_of(pid)) - before}

        last, since = None, None

        def settled():
            nonlocal last, since
            now = snapshot()
            if not now or now != last:
                last, since = now, time.monotonic()
                return None
            return set(now) if time.monotonic() - since >= quiet else None

        return wait_for(settled, timeout, "new windows of the program to settle")

    def give_focus(self, window):
        """What a click on a window's frame does on a desktop: the keyboard goes to it."""
        self.xdotool("windowfocus", window)
        self.wait_focus(window)

    def windows_of(self, pid):
        out = self.xdotool("search", "--onlyvisible", "--pid", pid, check=False)
        return [int(w) for w in out.split()]

    def type(self, text):
        self.xdotool("type", "--delay", "20", text)

    def key(self, *keys):
        self.xdotool("key", "--delay", "30", *keys)

    def colours(self, window, rect):
        """The set of colours ("#RRGGBB") on screen in a control's rectangle."""
        x, y = self.origin(window)
        left, top, width, height = rect
        out = subprocess.run(["import", "-window", "root", "-depth", "8", "-crop",
                              f"{width}x{height}+{x + left}+{y + top}", "txt:-"],
                             env=self.scratch.env, capture_output=True, text=True, timeout=30, check=True).stdout
        return set(re.findall(r"#[0-9A-F]{6}\b", out))

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.scratch.env, capture_output=True,
                       timeout=30)


class PseudoTerminal:
    """A pseudo-terminal the test writes to as a receiver does; the program reads `device`.
    Raw from the start, so bytes written before the program sets the line up pass as they
    are. close() is the adapter pulled: readers of the device see a hang-up."""

    def __init__(self):
        self.master, slave = os.openpty()
        tty.setraw(slave)
        self.device = os.ttyname(slave)
        os.close(slave)

    def write(self, data):
        while data:
            data = data[os.write(self.master, data):]

    def close(self):
        if self.master >= 0:
            os.close(self.master)
            self.master = -1


class Replay:
    """brisemer-replay serving recordings on pseudo-terminals, held until release()."""

    STATS = re.compile(r"^stats (COM\d+) bytes=(\d+) lines=(\d+) sentences=(\d+) corrupted=(\d+) hangups=(\d+)$")

    def __init__(self, scratch, exe, args, linger=30):
        self.ready_file = scratch.path("replay.ready")
        command = [exe, "--with-parent", "--hold", "--stats", "--ready-file", self.ready_file, "--linger", str(linger), *args]
        self.proc = scratch.spawn(command, "replay.log", stdout=subprocess.PIPE)
        self.lines = []
        self.lock = threading.Lock()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        wait_for(lambda: "ready" in self.output() or self.proc.poll() is not None, WINDOW_TIMEOUT,
                 "the replay tool to set up its ports")
        if "ready" not in self.output():
            raise E2EFailure(f"brisemer-replay failed: {self.output()} (see replay.log)")
        scratch.served_ports.update(self.devices())

    def _read(self):
        for raw in self.proc.stdout:
            with self.lock:
                self.lines.append(raw.decode(errors="replace").rstrip("\n"))

    def output(self):
        with self.lock:
            return list(self.lines)

    def devices(self):
        return dict(line.split("=", 1) for line in self.output() if re.match(r"^COM\d+=", line))

    def release(self):
        self.proc.send_signal(signal.SIGUSR1)

    def wait_stats(self, timeout):
        """Waits until the tool has sent everything and ended; its figures per port."""
        wait_for(lambda: self.proc.poll() is not None, timeout, "the replay tool to send its recordings")
        self.reader.join(timeout=5)
        self.proc.stdout.close()
        if self.proc.returncode != 0:
            raise E2EFailure(f"brisemer-replay ended with status {self.proc.returncode}: {self.output()}")
        stats = {}
        for line in self.output():
            m = self.STATS.match(line)
            if m:
                stats[m.group(1)] = dict(zip(("bytes", "lines", "sentences", "corrupted", "hangups"),
                                             map(int, m.groups()[1:])))
        return stats


class Brisemer:
    """The program, run from a copy in the scratch folder and driven through its windows."""

    def __init__(self, scratch, desktop, exe):
        self.scratch = scratch
        self.desktop = desktop
        self.exe = os.path.join(scratch.bin, "brisemer")
        if not os.path.exists(self.exe):
            shutil.copy2(exe, self.exe)
        self.settings_file = os.path.join(scratch.bin, "brisemer.INI")
        self.proc = None
        self.window = None
        self.runs = 0
        # Extra subprocess.Popen arguments, such as the user the program runs as.
        self.popen_options = {}

    def start(self):
        self._check_settings_ports()
        self.runs += 1
        self.proc = self.scratch.spawn([self.exe], f"brisemer-{self.runs}.log", cwd=self.scratch.bin,
                                       **self.popen_options)
        self.window = wait_for(self._own_window, WINDOW_TIMEOUT, "the Brisemer window")

    def _check_settings_ports(self):
        """Refuses to start a program whose settings file would open a port the replay tool
        does not serve: whatever goes wrong in a test, it must never open a real serial
        port of the machine (/dev/ttyS0 may be its console)."""
        if not os.path.exists(self.settings_file):
            return
        with open(self.settings_file, "rb") as f:
            numbers = re.findall(rb"(?im)^\s*ComNb\s*=\s*(\S*)", f.read())
        for text in numbers:
            # The program keeps the low 16 bits of the number.
            port = (int(text) & 0xFFFF) if text.isdigit() else (0 if not text else None)
            if port != 0 and f"COM{port}" not in self.scratch.served_ports:
                raise E2EFailure(f"the settings file names port {text.decode(errors='replace')}, which no "
                                 "replay serves here; not starting the program")

    def _own_window(self):
        if self.proc.poll() is not None:
            with open(self.scratch.path(f"brisemer-{self.runs}.log"), "rb") as f:
                said = f.read().decode(errors="replace").strip().splitlines()[:2]
            display = self.desktop.display.state() if self.desktop.display else "no display"
            raise E2EFailure(f"brisemer ended at start-up with status {self.proc.returncode} ({display}): "
                             + " / ".join(said))
        found = self.desktop.windows(MAIN_TITLE)
        return found[0] if found else None

    def file(self, name):
        return os.path.join(self.scratch.bin, name)

    def holds(self, device):
        """Whether the program has the device open."""
        folder = f"/proc/{self.proc.pid}/fd"
        for fd in os.listdir(folder):
            try:
                if os.readlink(os.path.join(folder, fd)) == device:
                    return True
            except FileNotFoundError:
                pass  # closed meanwhile
        return False

    def click(self, control):
        self.desktop.click(self.window, MAIN_LAYOUT[control])

    def lamp_lit(self, channel, lamp):
        """Whether the channel's "on" or "off" LED shows its lit colour."""
        rect = MAIN_LAYOUT[CHANNELS[channel][lamp]]
        return LIT_COLOUR[lamp] in self.desktop.colours(self.window, rect)

    def wait_lamps(self, channel, on, off, timeout=WINDOW_TIMEOUT):
        wait_for(lambda: self.lamp_lit(channel, "on") == on and self.lamp_lit(channel, "off") == off, timeout,
                 f"the {channel} LEDs to show On={'lit' if on else 'dark'} Off={'lit' if off else 'dark'}")

    def hold_lamps(self, channel, on, off, seconds=2.5):
        """The LEDs show on/off and still do after the next status refresh (every 2 s)."""
        self.wait_lamps(channel, on, off)
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            shown = (self.lamp_lit(channel, "on"), self.lamp_lit(channel, "off"))
            if shown != (on, off):
                raise E2EFailure(f"the {channel} LEDs changed to On={'lit' if shown[0] else 'dark'} "
                                 f"Off={'lit' if shown[1] else 'dark'}")
            time.sleep(0.1)
        log_step(f"the {channel} LEDs kept their state for {seconds} s")

    # --- Port settings dialog ---

    def open_settings(self, channel):
        self.click(CHANNELS[channel]["settings"])
        dialog = self.desktop.wait_window(SETTINGS_TITLE)
        self.desktop.wait_focus(dialog)
        return dialog

    def pick(self, dialog, control, entry, refused=False):
        """Opens a drop-down list of the settings dialog and picks the entry by typing its
        text, as a person does in such a list, then Return. refused: the program must
        answer with its message that both channels cannot have the same port, which is
        then acknowledged."""
        before = set(self.desktop.windows_of(self.proc.pid))
        self.desktop.click(dialog, SETTINGS_LAYOUT[control])
        # The open list is a window of its own over the dialog, with the keyboard. The
        # toolkit may roll it open in a passing window first; keys typed before the list
        # itself shows are lost, so wait until the new windows stay as they are.
        popup = self.desktop.wait_new_windows_settled(self.proc.pid, before)
        self.desktop.type(entry)
        self.desktop.key("Return")
        wait_for(lambda: not popup & set(self.desktop.windows_of(self.proc.pid)), WINDOW_TIMEOUT,
                 f"the list {control} to close")
        if refused:
            message = self.desktop.wait_window(INFO_TITLE)
            self.desktop.wait_focus(message)
            self.desktop.key("Return")
            self.desktop.wait_window_count(INFO_TITLE, 0)
        elif self.desktop.windows(INFO_TITLE):
            raise E2EFailure(f"picking {entry} was refused")

    def close_settings(self, dialog, ok=True):
        self.desktop.click(dialog, SETTINGS_LAYOUT["BtnOK" if ok else "BtnCancel"])
        self.desktop.wait_window_count(SETTINGS_TITLE, 0)

    # --- Save dialog ---

    def save_pane(self, channel, typed_name, question=None, before_return=None):
        """Clicks the channel's save button and types the name into the save dialog; returns
        what the program wrote, or None when nothing was to be written. The pane is written
        as it is when the name is confirmed: before_return() runs just before.

        question: None when no overwrite question may come; "yes" or "no" to answer the
        one that must come. After "no" the dialog stays open and is cancelled."""
        target = self.file(change_file_ext(typed_name, ".txt"))
        if os.path.exists(target):
            # A modification time of 0 tells the old file from the one the program writes.
            os.utime(target, ns=(0, 0))
        self.click(CHANNELS[channel]["save"])
        dialog = self.desktop.wait_window(SAVE_TITLE)
        self.desktop.wait_focus(dialog)
        # The file name field has the focus; the name offered from last time is replaced.
        self.desktop.key("ctrl+a")
        self.desktop.type(typed_name)
        if before_return:
            before_return()
        self.desktop.key("Return")
        if question is None:
            # A question would keep a second window of the same title open: the dialog
            # must simply go.
            self.desktop.wait_window_count(SAVE_TITLE, 0)
        else:
            self.desktop.wait_window_count(SAVE_TITLE, 2)
            question_box = [w for w in self.desktop.windows(SAVE_TITLE) if w != dialog][0]
            self.desktop.wait_focus(question_box)
            self.desktop.key("alt+o" if question == "yes" else "alt+n")
            if question != "yes":
                self.desktop.wait_window_count(SAVE_TITLE, 1)
                # Without a window manager nobody hands the focus back to the dialog.
                self.desktop.give_focus(dialog)
                self.desktop.key("Escape")
                self.desktop.wait_window_count(SAVE_TITLE, 0)
                return None
            self.desktop.wait_window_count(SAVE_TITLE, 0)
        wait_for(lambda: os.path.exists(target) and os.stat(target).st_mtime_ns != 0, SAVE_TIMEOUT,
                 f"{target} to be written")
        return self.wait_file_settled(target)

    def save_until_complete(self, channel, typed_name, expected, timeout=SAVE_TIMEOUT):
        """Saves the pane until the file holds the expected text.

        The replay tool ends when the program has taken the bytes, which may be a moment
        before the last lines reach the pane: a saved text that is a shorter beginning of
        the expected one is saved again. Anything else fails at once."""
        target = self.file(change_file_ext(typed_name, ".txt"))
        deadline = time.monotonic() + timeout
        while True:
            got = self.save_pane(channel, typed_name, question="yes" if os.path.exists(target) else None)
            if got == expected:
                return got
            if not expected.startswith(got):
                raise E2EFailure(f"{channel} pane saved wrong: {describe_difference(got, expected)}")
            if time.monotonic() >= deadline:
                raise E2EFailure(f"{channel} pane still incomplete: {describe_difference(got, expected)}")
            time.sleep(0.3)

    @staticmethod
    def wait_file_settled(path, timeout=SAVE_TIMEOUT):
        """The file's content once it exists and has stopped changing."""
        last = None
        stable_since = None
        deadline = time.monotonic() + timeout
        while True:
            try:
                stat = os.stat(path)
                state = (stat.st_size, stat.st_mtime_ns)
            except FileNotFoundError:
                state = None
            now = time.monotonic()
            if state is not None and state == last:
                if now - stable_since >= 0.3:
                    with open(path, "rb") as f:
                        return f.read()
            else:
                last, stable_since = state, now
            if now >= deadline:
                raise E2EFailure(f"{path} was not written")
            time.sleep(0.05)

    # --- Continuous capture ---

    def pane_menu_last_item(self, channel):
        """Opens the pane's context menu with a right click and runs its last item (the
        capture's "Enregistrer en continu…" or "Arrêter l'enregistrement")."""
        before = set(self.desktop.windows_of(self.proc.pid))
        left, top, width, height = MAIN_LAYOUT[CHANNELS[channel]["pane"]]
        self.desktop.xdotool("mousemove", "--window", self.window, left + width // 2, top + height // 2)
        self.desktop.xdotool("click", "3")
        menu = self.desktop.wait_new_windows_settled(self.proc.pid, before)
        # Up from no selection picks the last item.
        self.desktop.key("Up", "Return")
        wait_for(lambda: not menu & set(self.desktop.windows_of(self.proc.pid)), WINDOW_TIMEOUT,
                 "the pane's menu to close")

    def start_capture(self, channel, path):
        self.pane_menu_last_item(channel)
        dialog = self.desktop.wait_window(f"^Enregistrer en continu – canal {channel}$")
        self.desktop.wait_focus(dialog)
        self.desktop.key("ctrl+a")
        self.desktop.type(path)
        self.desktop.key("Return")
        self.desktop.wait_window_count(f"^Enregistrer en continu – canal {channel}$", 0)
        wait_for(lambda: os.path.exists(path), WINDOW_TIMEOUT, f"the capture file {path}")

    # --- Quit ---

    def quit(self, save_settings):
        """Clicks "&Quitter", answers the question and waits for the program to end."""
        self.click("btnQuit")
        self.desktop.wait_focus(self.desktop.wait_window(CONFIRM_TITLE))
        self.desktop.key("alt+o" if save_settings else "alt+n")
        try:
            status = self.proc.wait(timeout=WINDOW_TIMEOUT)
        except subprocess.TimeoutExpired:
            raise E2EFailure("brisemer did not end after the quit question") from None
        if status != 0:
            raise E2EFailure(f"brisemer ended with status {status}")

    def settings(self):
        with open(self.settings_file, "rb") as f:
            return f.read()


def run_tests(module, paths, options):
    """A test script's command line: --list prints its cases one a line (CTest registers
    each on its own); otherwise the paths of `options` (--NAME PATH, all required) go into
    `paths` and unittest runs the rest of the arguments."""
    if sys.argv[1:] == ["--list"]:
        for group in unittest.defaultTestLoader.loadTestsFromModule(module):
            for test in group:
                print(test.id().split(".", 1)[1])
        return
    parser = argparse.ArgumentParser(add_help=False)
    for name in options:
        parser.add_argument("--" + name, required=True)
    known, rest = parser.parse_known_args()
    for name in options:
        setattr(paths, name, os.path.abspath(getattr(known, name)))
    unittest.main(module=module, argv=[sys.argv[0], *rest], verbosity=2)
