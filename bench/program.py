#!/usr/bin/env python3
"""Whole-program benchmark of Brisemer: the real program, both channels on pseudo-terminals.

  bench/program.py [--reps 3] [--only flood,live,replay,latency,startup,analysis] [--live-seconds 60] ...

Every measure runs the program as a user would: a copy of the executable in a scratch folder
with its settings file beside it (GPS on COM201, AIS on COM202), a private $HOME whose
serial-port map names the two pseudo-terminals, offscreen (or under a private Xvfb with
--xvfb). No real serial port is ever opened: the map names pseudo-terminals only.

  flood     both channels written as fast as the program takes the bytes (the writer waits
            when a pseudo-terminal is full), 20 MB of real NMEA each: MB/s absorbed per
            channel, CPU seconds per MB, peak resident memory, resident growth per byte of
            pane text.
  live      GPS at 4800 baud and AIS at 38400 baud, paced, for 60 s: CPU % of one core,
            resident memory at the start and its growth per minute and per byte of text.
  replay    GPS (garmin-geko201.log, 4800 baud) and AIS (sample.aivdm, 38400 baud) fed by
            brisemer-replay at the real pace, in its slices of about 5 ms of line time (some
            400 writes a second, as a UART with a small FIFO delivers), for 20 s: CPU % of one
            core, of which on the user-interface thread, and context switches per second.
  latency   the benchmark build (brisemer-probe) timestamps every delivery and every paint
            of both panes: from the write of a carriage return to the paint that shows its
            line, median and 99th percentile, live and during a timed flood; the status
            refresh intervals during the flood; the panes saved afterwards and compared
            byte for byte with what was sent (every line kept).
  startup   process start to the main window painted, and the port settings dialog opened
            with 100 ports in the serial-port map (brisemer-probe).
  analysis  the flood, live and latency measures again, on the benchmark build with its link
            analysis on and then switched off (the probe's "analysis off" command), turn
            about in the same run: the cost of the analysis, as the ratio on / off. Then one
            live latency run in which the analysis is switched about every --switch-seconds,
            each line counted for the state it was written in, all runs pooled: a sub-millisecond
            p99 moves more between two runs than any cost of the analysis could move it.
            --null-switch leaves the analysis on in both states: how far the two halves
            differ when nothing differs.
            --analysis-measures picks among flood, live, latency_live, latency_flood,
            latency_live_interleaved.

`cat` reading the same pseudo-terminals is measured in the same run as the floor, and every
figure is printed beside cat's with the ratio. Each figure is the median of --reps runs.
The shipped brisemer gives the flood and live figures; the probe build the others.
Figures move by a third between runs on a shared machine: compare within one run only.
"""
import argparse, bisect, fcntl, json, os, random, select, shutil, signal, statistics, struct, subprocess, sys
import tempfile, termios, time, tty

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'e2e'))
import e2ekit  # noqa: E402  (how the replay tool puts a recording on the wire)

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
MB = 1_000_000
CHUNK = 65536
CLK = os.sysconf('SC_CLK_TCK')
PAGE = os.sysconf('SC_PAGE_SIZE')
mono = time.monotonic_ns


def log(*args):
    print(*args, file=sys.stderr, flush=True)


# ------------------------------------------------------------------------------ workload
def recordings(folder: str, suffix: str) -> bytes:
    names = sorted(n for n in os.listdir(folder) if n.endswith(suffix))
    if not names:
        sys.exit(f'no *{suffix} recordings in {folder}')
    return b''.join(e2ekit.wire_bytes(os.path.join(folder, n)) for n in names)


class Stream:
    """A recording repeated without end; hands out pieces by position."""

    def __init__(self, unit: bytes):
        self.unit = unit
        self.big = unit * (CHUNK // len(unit) + 2)

    def piece(self, pos: int, size: int) -> bytes:
        off = pos % len(self.unit)
        return self.big[off:off + min(size, CHUNK)]

    def line_end(self, sent: int) -> int:
        """Position just after the last CR among the first `sent` bytes (0 if none)."""
        q, r = divmod(sent, len(self.unit))
        tail = self.unit.rfind(b'\r', 0, r)
        if tail >= 0:
            return q * len(self.unit) + tail + 1
        last = self.unit.rfind(b'\r')
        return 0 if q == 0 or last < 0 else (q - 1) * len(self.unit) + last + 1


def compare_pane(path: str, stream: Stream, sent: int) -> dict:
    """Compares a saved pane with the lines sent, a block at a time: the pane holds every line
    up to the last CR sent, each followed by CR LF (the LF that followed a CR on the wire
    starts the next line)."""
    end = stream.line_end(sent)
    conv_unit = stream.unit.replace(b'\r', b'\r\n')
    q, r = divmod(end, len(stream.unit))
    want_size = q * len(conv_unit) + len(stream.unit[:r].replace(b'\r', b'\r\n'))
    got_size = os.path.getsize(path)
    result = {'lines_sent': q * stream.unit.count(b'\r') + stream.unit[:r].count(b'\r'),
              'bytes_expected': want_size, 'bytes_saved': got_size, 'first_diff': None}
    big = conv_unit * (CHUNK // len(conv_unit) + 2)
    with open(path, 'rb') as f:
        pos = 0
        while pos < min(want_size, got_size):
            block = f.read(min(CHUNK, want_size - pos))
            if not block:
                break
            off = pos % len(conv_unit)
            want = big[off:off + len(block)]
            if block != want:
                result['first_diff'] = pos + next(i for i in range(len(block)) if block[i] != want[i])
                break
            pos += len(block)
    if result['first_diff'] is None and want_size != got_size:
        result['first_diff'] = min(want_size, got_size)
    result['kept'] = result['first_diff'] is None
    return result


# ------------------------------------------------------------------------------ channels
class Channel:
    """One pseudo-terminal: the program opens the slave, the benchmark writes the master."""

    def __init__(self, name: str, stream: Stream):
        self.name, self.stream = name, stream
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        os.set_blocking(self.master, False)
        self.path = os.ttyname(self.slave)
        self.pos = 0
        self.crs = 0
        # (time before the write, CRs written before it, CRs written after it)
        self.marks_t, self.marks_cum = [], []
        self.record = False

    def inq(self) -> int:
        """Bytes waiting in the slave's input queue, not yet read by the program."""
        return struct.unpack('i', fcntl.ioctl(self.slave, termios.TIOCINQ, b'\0' * 4))[0]

    def write(self, limit: int) -> int:
        """Writes what the kernel takes of the stream, up to position `limit`."""
        if self.pos >= limit:
            return 0
        piece = self.stream.piece(self.pos, limit - self.pos)
        t = mono()
        try:
            n = os.write(self.master, piece)
        except BlockingIOError:
            return 0
        self.pos += n
        crs = piece[:n].count(b'\r')
        if crs and self.record:
            self.marks_t.append(t)
            self.marks_cum.append(self.crs + crs)
        self.crs += crs
        return n

    def drain_master(self):
        """Reads whatever the program wrote to the port (it should write nothing)."""
        try:
            while os.read(self.master, CHUNK):
                pass
        except (BlockingIOError, OSError):
            pass

    def close(self):
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass


# ------------------------------------------------------------------------------ processes
def proc_stat(pid):
    try:
        return open(f'/proc/{pid}/stat').read().rsplit(')', 1)[1].split()
    except OSError:
        return None


def cpu_seconds(pids) -> float:
    total = 0
    for p in pids:
        f = proc_stat(p)
        if f:
            total += int(f[11]) + int(f[12])
    return total / CLK


def thread_figures(pid) -> dict:
    """CPU seconds of the main thread and of all threads, and context switches of all
    threads (voluntary and involuntary), from /proc."""
    main, total, switches = 0.0, 0.0, 0
    try:
        tids = os.listdir(f'/proc/{pid}/task')
    except OSError:
        return {'main_cpu_s': 0.0, 'cpu_s': 0.0, 'switches': 0}
    for tid in tids:
        try:
            f = open(f'/proc/{pid}/task/{tid}/stat').read().rsplit(')', 1)[1].split()
            status = open(f'/proc/{pid}/task/{tid}/status').read().split('\n')
        except OSError:
            continue  # the thread ended meanwhile
        cpu = (int(f[11]) + int(f[12])) / CLK
        total += cpu
        if tid == str(pid):
            main += cpu
        for line in status:
            if 'ctxt_switches:' in line:
                switches += int(line.split()[1])
    return {'main_cpu_s': main, 'cpu_s': total, 'switches': switches}


def mem_kib(pids, key) -> int:
    total = 0
    for p in pids:
        try:
            for line in open(f'/proc/{p}/status'):
                if line.startswith(key + ':'):
                    total += int(line.split()[1])
        except OSError:
            pass
    return total


def opened_paths(pid) -> set:
    try:
        return {os.readlink(f'/proc/{pid}/fd/{fd}') for fd in os.listdir(f'/proc/{pid}/fd')}
    except OSError:
        return set()


class Display:
    """A private Xvfb for --xvfb runs."""

    def __init__(self, scratch):
        r, w = os.pipe()
        self.proc = subprocess.Popen(['Xvfb', '-displayfd', str(w), '-screen', '0', '1280x1024x24',
                                      '-nolisten', 'tcp'], pass_fds=(w,), stdout=subprocess.DEVNULL,
                                     stderr=open(os.path.join(scratch, 'xvfb.log'), 'wb'))
        os.close(w)
        buf, end = b'', time.monotonic() + 20
        while not buf.endswith(b'\n'):
            if select.select([r], [], [], 1)[0]:
                chunk = os.read(r, 32)
                buf += chunk
                if chunk:
                    continue
            if self.proc.poll() is not None or time.monotonic() > end:
                self.stop()
                raise RuntimeError('Xvfb did not start')
        os.close(r)
        self.name = ':' + buf.decode().strip()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class Program:
    """Brisemer (shipped or probe build) in a scratch folder, or `cat` per channel."""

    def __init__(self, kind: str, exe: str, channels: dict, scratch: str, display=None, extra_ports=()):
        self.kind, self.channels, self.scratch = kind, channels, scratch
        self.procs, self.output = [], b''
        self.env = {'PATH': os.environ['PATH'], 'LANG': 'C.UTF-8', 'HOME': os.path.join(scratch, 'home'),
                    'XDG_CONFIG_HOME': os.path.join(scratch, 'home', '.config'),
                    'XDG_RUNTIME_DIR': os.path.join(scratch, 'run')}
        os.makedirs(self.env['XDG_RUNTIME_DIR'], mode=0o700, exist_ok=True)
        if display:
            self.env.update({'DISPLAY': display, 'QT_QPA_PLATFORM': 'xcb'})
        else:
            self.env['QT_QPA_PLATFORM'] = 'offscreen'
        if kind == 'cat':
            return
        app = os.path.join(scratch, 'app')
        os.makedirs(app, exist_ok=True)
        self.exe = os.path.join(app, 'brisemer')
        shutil.copy2(exe, self.exe)
        config = os.path.join(self.env['XDG_CONFIG_HOME'], 'serialcomm')
        os.makedirs(config, exist_ok=True)
        with open(os.path.join(config, 'ports'), 'w') as f:
            f.write('COM201 = %s\nCOM202 = %s\n' % (channels['gps'].path, channels['ais'].path))
            for number, path in extra_ports:
                f.write('COM%d = %s\n' % (number, path))
        with open(os.path.join(app, 'brisemer.INI'), 'wb') as f:
            f.write(b'[ComPort GPS]\r\nComNb=201\r\nBaudRate=4800\r\nDataBits=8\r\nStopBits=1\r\nParity=0\r\n'
                    b'[ComPort AIS]\r\nComNb=202\r\nBaudRate=38400\r\nDataBits=8\r\nStopBits=1\r\nParity=0\r\n')

    def start(self, pipe_stdout=False):
        """Starts the program; returns the time just before the process was made."""
        out = subprocess.PIPE if pipe_stdout else subprocess.DEVNULL
        self.t_spawn = mono()
        if self.kind == 'cat':
            for ch in self.channels.values():
                self.procs.append(subprocess.Popen(['cat', ch.path], stdin=subprocess.DEVNULL, stdout=out,
                                                   stderr=subprocess.DEVNULL, env=self.env, cwd=self.scratch))
        else:
            self.procs.append(subprocess.Popen([self.exe], stdin=subprocess.PIPE if pipe_stdout else subprocess.DEVNULL,
                                               stdout=out, stderr=open(os.path.join(self.scratch, 'program.log'), 'wb'),
                                               env=self.env, cwd=self.scratch))
        if pipe_stdout:
            for p in self.procs:
                os.set_blocking(p.stdout.fileno(), False)
        return self.t_spawn

    @property
    def pids(self):
        return [p.pid for p in self.procs if p.poll() is None]

    def alive(self):
        return all(p.poll() is None for p in self.procs)

    def wait_opened(self, timeout=20):
        want = {ch.path for ch in self.channels.values()}
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            have = set()
            for pid in self.pids:
                have |= opened_paths(pid)
            if want <= have:
                return
            if not self.alive():
                raise RuntimeError(f'{self.kind} ended before opening its ports (see {self.scratch})')
            time.sleep(0.01)
        raise RuntimeError(f'{self.kind} did not open its ports within {timeout} s (see {self.scratch})')

    def command(self, text: str):
        self.procs[0].stdin.write(text.encode() + b'\n')
        self.procs[0].stdin.flush()

    def read_line(self, prefix: str, timeout=30, pump=None) -> list:
        """Waits for the probe's answer starting with `prefix`; returns its fields."""
        out = self.procs[0].stdout
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            while b'\n' in self.output:
                line, self.output = self.output.split(b'\n', 1)
                fields = line.decode(errors='replace').split()
                if fields and fields[0] == prefix:
                    return fields
                if fields and fields[0] in ('failed', 'unknown'):
                    raise RuntimeError('probe: ' + line.decode(errors='replace'))
            if select.select([out], [], [], 0.05)[0]:
                chunk = os.read(out.fileno(), 65536)
                if not chunk:
                    raise RuntimeError(f'probe ended before "{prefix}" (see {self.scratch})')
                self.output += chunk
            if pump:
                pump()
        raise RuntimeError(f'probe: no "{prefix}" within {timeout} s')

    def stop(self):
        for p in self.procs:
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
        for p in self.procs:
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
            for pipe in (p.stdin, p.stdout):
                if pipe:
                    pipe.close()


# ------------------------------------------------------------------------------ helpers
def wait_drained(channels, deadline):
    """Time at which every channel's input queue became empty and stayed so for three readings
    5 ms apart (the queue TIOCINQ sees refills from the flip buffer within microseconds)."""
    zeros, first = 0, None
    while time.monotonic() < deadline:
        for ch in channels:
            ch.drain_master()
        if sum(ch.inq() for ch in channels) == 0:
            first = first or mono()
            zeros += 1
            if zeros >= 3:
                return first
        else:
            zeros, first = 0, None
        time.sleep(0.005)
    return None


def wait_idle(prog, limit=10.0, pct=5.0, window=0.25):
    """After a flood: waits until the program uses less than pct % of a core (at most limit s)."""
    end = time.monotonic() + limit
    while time.monotonic() < end:
        c0, t0 = cpu_seconds(prog.pids), time.monotonic()
        time.sleep(window)
        if (cpu_seconds(prog.pids) - c0) / (time.monotonic() - t0) * 100 < pct:
            return True
    return False


def slope(samples):
    """Least-squares slope of (t, value) samples, per second."""
    if len(samples) < 2:
        return 0.0
    mt = statistics.fmean(t for t, _ in samples)
    mv = statistics.fmean(v for _, v in samples)
    den = sum((t - mt) ** 2 for t, _ in samples)
    return sum((t - mt) * (v - mv) for t, v in samples) / den if den else 0.0


def percentile(values, p):
    if not values:
        return None
    values = sorted(values)
    return values[min(len(values) - 1, max(0, int(round(p / 100 * len(values) + 0.5)) - 1))]


def flood_until(channels, prog, limits: dict, seconds=None, pump=None):
    """Writes every channel as fast as it takes the bytes, to its limit or for `seconds`."""
    t0 = time.monotonic()
    while True:
        if seconds is not None and time.monotonic() - t0 >= seconds:
            break
        active = [ch for ch in channels if ch.pos < limits[ch.name]]
        if not active:
            break
        _, writable, _ = select.select([], [ch.master for ch in active], [], 0.1)
        for ch in active:
            if ch.master in writable:
                ch.write(limits[ch.name])
        if pump:
            pump()
        if not prog.alive():
            raise RuntimeError(f'{prog.kind} ended during the flood (see {prog.scratch})')


RATES = {'gps': 4800 / 10, 'ais': 38400 / 10}  # 8N1: ten bit times a byte


def paced(channels, prog, seconds, samples=None, pump=None, step=0.005):
    """Writes GPS at 4800 baud and AIS at 38400 baud for `seconds`; samples resident memory."""
    t0 = time.monotonic()
    next_sample = t0
    while True:
        now = time.monotonic()
        el = now - t0
        if el >= seconds:
            break
        for ch in channels:
            ch.write(int(RATES[ch.name] * el))
            ch.drain_master()
        if samples is not None and now >= next_sample:
            samples.append((now - t0, mem_kib(prog.pids, 'VmRSS') * 1024))
            next_sample += 1.0
        if pump:
            pump()
        if not prog.alive():
            raise RuntimeError(f'{prog.kind} ended during the live run (see {prog.scratch})')
        time.sleep(step)
    return time.monotonic() - t0


# ------------------------------------------------------------------------------ measures
class Bench:
    def __init__(self, args):
        self.args = args
        data = args.data
        self.streams = {'gps': Stream(recordings(data, '.log')), 'ais': Stream(recordings(data, '.aivdm'))}
        self.root = tempfile.mkdtemp(prefix='brisemer-program-', dir='/tmp')
        self.display = None

    def scratch(self, label):
        return tempfile.mkdtemp(prefix=label + '-', dir=self.root)

    def channels(self):
        return {name: Channel(name, stream) for name, stream in self.streams.items()}

    def run(self, kind, body, extra_ports=0, pipe=False):
        """Runs `body(prog, channels)` on a fresh program and fresh pseudo-terminals."""
        chans = self.channels()
        extra = [Channel('extra', self.streams['gps']) for _ in range(extra_ports)]
        scratch = self.scratch(kind)
        exe = {'brisemer': self.args.exe, 'probe': self.args.probe, 'cat': None}[kind]
        prog = Program('cat' if kind == 'cat' else kind, exe, chans, scratch,
                       self.display.name if self.display else None,
                       [(101 + i, ch.path) for i, ch in enumerate(extra)])
        try:
            return body(prog, chans)
        finally:
            prog.stop()
            for ch in list(chans.values()) + extra:
                ch.close()

    @staticmethod
    def switch_analysis(prog, kind, analysis):
        """The probe build runs its link analysis unless told otherwise."""
        if kind == 'probe' and not analysis:
            prog.command('analysis off')
            prog.read_line('analysis')

    # ---- flood
    def flood(self, kind, analysis=True):
        size = int(self.args.mbytes * MB)

        def body(prog, chans):
            prog.start(pipe_stdout=kind == 'probe')
            prog.wait_opened()
            self.switch_analysis(prog, kind, analysis)
            time.sleep(1.0)
            chs = list(chans.values())
            rss0, cpu0 = mem_kib(prog.pids, 'VmRSS') * 1024, cpu_seconds(prog.pids)
            t0 = mono()
            done = {}

            def pump():
                for ch in chs:
                    if ch.name not in done and ch.pos >= size and ch.inq() == 0:
                        done[ch.name] = mono()
            flood_until(chs, prog, {c.name: size for c in chs}, pump=pump)
            t_end = wait_drained(chs, time.monotonic() + 60)
            if t_end is None:
                raise RuntimeError('the flood was not absorbed within 60 s')
            for ch in chs:
                done.setdefault(ch.name, t_end)
            cpu1 = cpu_seconds(prog.pids)
            hwm, rss1 = mem_kib(prog.pids, 'VmHWM') * 1024, mem_kib(prog.pids, 'VmRSS') * 1024
            wait_idle(prog)
            cpu2 = cpu_seconds(prog.pids)
            rates = {n: size / MB / ((t - t0) / 1e9) for n, t in done.items()}
            text = sum(ch.pos for ch in chs)
            return {'mb_s_per_channel': min(rates.values()), 'mb_s_gps': rates['gps'], 'mb_s_ais': rates['ais'],
                    'cpu_s': cpu2 - cpu0, 'cpu_s_during': cpu1 - cpu0, 'cpu_s_per_mb': (cpu2 - cpu0) / (text / MB),
                    'peak_rss_mib': hwm / 2**20, 'rss_start_mib': rss0 / 2**20,
                    'rss_per_text_byte': (rss1 - rss0) / text if kind != 'cat' else None}
        return self.run(kind, body)

    # ---- live
    def live(self, kind, analysis=True):
        def body(prog, chans):
            prog.start(pipe_stdout=kind == 'probe')
            prog.wait_opened()
            self.switch_analysis(prog, kind, analysis)
            time.sleep(2.0)
            chs = list(chans.values())
            samples = []
            profiler = self.start_profile(prog) if kind == 'brisemer' else None
            c0 = cpu_seconds(prog.pids)
            elapsed = paced(chs, prog, self.args.live_seconds, samples, step=0.01)
            c1 = cpu_seconds(prog.pids)
            if profiler:
                self.finish_profile(profiler)
            growth = slope(samples)  # bytes per second
            text_rate = sum(RATES.values())
            return {'cpu_pct': (c1 - c0) / elapsed * 100, 'rss_start_mib': samples[0][1] / 2**20,
                    'rss_end_mib': samples[-1][1] / 2**20, 'rss_growth_kib_min': growth * 60 / 1024,
                    'rss_growth_per_text_byte': growth / text_rate if kind != 'cat' else None}
        return self.run(kind, body)

    def start_profile(self, prog):
        """perf on the first live run only: where the program's time goes at the live pace."""
        if not self.args.perf or getattr(self, 'profiled', False):
            return None
        self.profiled = True
        data = os.path.join(self.root, 'live.perf')
        cmd = ['perf', 'record', '-q', '-F', '2999', '-g', '-o', data, '-p', str(prog.pids[0]),
               '--', 'sleep', str(min(self.args.perf, self.args.live_seconds))]
        return subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL), data

    def finish_profile(self, profiler):
        proc, data = profiler
        proc.wait()
        for sort in ('comm', 'dso', 'comm,sym'):
            out = subprocess.run(['perf', 'report', '-i', data, '--no-children', '--sort', sort, '--stdio',
                                  '--percent-limit', '1.5', '-g', 'none'],
                                 capture_output=True, text=True).stdout
            lines = [l for l in out.splitlines() if l.strip() and not l.startswith('#')]
            print(f'perf, live run, by {sort}:\n' + '\n'.join(lines[:25]), flush=True)

    # ---- replay
    def replay(self, kind):
        """The replay tool makes the two pseudo-terminals and paces the recordings itself."""
        scratch = self.scratch('replay-' + kind)
        ready = os.path.join(scratch, 'ready')
        data = self.args.data
        tool = subprocess.Popen([self.args.replay, '--port', 'COM201:4800:' + os.path.join(data, 'garmin-geko201.log'),
                                 '--port', 'COM202:38400:' + os.path.join(data, 'sample.aivdm'),
                                 '--loop', 'forever', '--hold', '--no-map-file', '--ready-file', ready,
                                 '--with-parent'], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=open(os.path.join(scratch, 'replay.log'), 'wb'))
        prog = None
        try:
            end = time.monotonic() + 20
            while not os.path.exists(ready):
                if tool.poll() is not None or time.monotonic() > end:
                    raise RuntimeError(f'the replay tool made no ports (see {scratch})')
                time.sleep(0.01)
            ports = dict(line.strip().split('=', 1) for line in open(ready) if '=' in line)

            class Port:
                def __init__(self, name, path):
                    self.name, self.path = name, path
            chans = {'gps': Port('gps', ports['COM201']), 'ais': Port('ais', ports['COM202'])}
            prog = Program(kind, self.args.exe if kind != 'cat' else None, chans, scratch,
                           self.display.name if self.display else None)
            prog.start()
            prog.wait_opened()
            tool.send_signal(signal.SIGUSR1)
            time.sleep(2.0)
            before = [thread_figures(p) for p in prog.pids]
            t0 = time.monotonic()
            time.sleep(self.args.replay_seconds)
            elapsed = time.monotonic() - t0
            after = [thread_figures(p) for p in prog.pids]
            if not prog.alive() or tool.poll() is not None:
                raise RuntimeError(f'{kind} or the replay tool ended during the run (see {scratch})')

            def total(key):
                return sum(a[key] - b[key] for a, b in zip(after, before))
            return {'cpu_pct': total('cpu_s') / elapsed * 100,
                    'ui_cpu_pct': total('main_cpu_s') / elapsed * 100 if kind != 'cat' else None,
                    'switches_per_s': total('switches') / elapsed}
        finally:
            if prog:
                prog.stop()
            if tool.poll() is None:
                tool.terminate()
            try:
                tool.wait(10)
            except subprocess.TimeoutExpired:
                tool.kill()
                tool.wait()

    # ---- latency
    def latency(self, kind, mode, analysis=True):
        """`analysis` 'interleaved': the probe's analysis is switched on and off about every
        --switch-seconds (at random) during the one run, and each line counts for the state it
        was written in (lines near a switch count for neither): both states then see the same
        machine, the same process and the same moments of load."""
        interleaved = analysis == 'interleaved'
        switches = []  # (time sent, state after it)

        def body(prog, chans):
            chs = list(chans.values())
            prog.start(pipe_stdout=True)
            prog.wait_opened()
            if kind == 'probe':
                prog.read_line('painted')
            self.switch_analysis(prog, kind, analysis is True or interleaved)
            time.sleep(1.0)
            if interleaved:
                switches.append((mono(), True))
            cat_reads = {ch.name: ([], []) for ch in chs}  # (time, CRs read so far)
            cat_pipes = {}
            if kind == 'cat':
                for ch, p in zip(chs, prog.procs):
                    cat_pipes[p.stdout.fileno()] = ch.name

            # Each state lasts a random half to one and a half --switch-seconds: a fixed period
            # could lock onto the recording's own cycle (a GPS sends its burst once a second)
            # and give one state the same part of every burst.
            rng = random.Random()
            hold = [self.args.switch_seconds * rng.uniform(0.5, 1.5)]

            def pump():
                if interleaved and mono() - switches[-1][0] >= hold[0] * 1e9:
                    state = not switches[-1][1]
                    on = state or self.args.null_switch
                    prog.command('analysis ' + ('on' if on else 'off'))
                    switches.append((mono(), state))
                    hold[0] = self.args.switch_seconds * rng.uniform(0.5, 1.5)
                if not cat_pipes:
                    return
                while True:
                    ready = select.select(list(cat_pipes), [], [], 0)[0]
                    if not ready:
                        return
                    for fd in ready:
                        t = mono()
                        data = os.read(fd, 1 << 20)
                        ts, cum = cat_reads[cat_pipes[fd]]
                        crs = data.count(b'\r')
                        if crs:
                            ts.append(t)
                            cum.append((cum[-1] if cum else 0) + crs)
            for ch in chs:
                ch.record = True
            t0 = mono()
            if mode == 'live':
                paced(chs, prog, self.args.latency_seconds, pump=pump, step=0.002)
            else:
                flood_until(chs, prog, {c.name: 1 << 62 for c in chs}, seconds=self.args.flood_seconds, pump=pump)
            t1 = mono()
            end = time.monotonic() + 60
            while wait_drained(chs, end) is None or (cat_pipes and select.select(list(cat_pipes), [], [], 0.2)[0]):
                pump()
                if time.monotonic() > end:
                    raise RuntimeError('not drained within 60 s')
            pump()
            res = {'lines': {}, 'kept': {}}
            if kind == 'probe':
                folder = tempfile.mkdtemp(prefix='dump-', dir=prog.scratch)
                time.sleep(0.1)  # the last frame
                prog.command('dump ' + folder)
                prog.read_line('dumped', timeout=120)
                marks = {}
                for line in open(os.path.join(folder, 'probe.txt')):
                    name, *values = line.split()
                    marks.setdefault(name, []).append(tuple(int(v) for v in values))
                for ch in chs:
                    check = compare_pane(os.path.join(folder, ch.name + '.txt'), ch.stream, ch.pos)
                    res['kept'][ch.name] = check
                    os.unlink(os.path.join(folder, ch.name + '.txt'))
                shown = {ch.name: marks.get(ch.name + '-painted', []) for ch in chs}
                entered = {ch.name: marks.get(ch.name + '-delivered', []) for ch in chs}
                refreshes = [m[0] for m in marks.get('refresh', []) if t0 <= m[0] <= t1]
                res['refresh_intervals_ms'] = [(b - a) / 1e6 for a, b in zip(refreshes, refreshes[1:])]
            else:
                shown = {n: list(zip(*cat_reads[n])) for n in cat_reads}
                entered = shown
            for ch in chs:
                res['lines'][ch.name] = ch.crs
                if interleaved:
                    starts = [t for t, _ in switches]
                    margin = 0.05e9  # the switch reaches the program a little after it is sent

                    def in_state(state):
                        def keep(t):
                            i = bisect.bisect_right(starts, t) - 1
                            return (i >= 0 and switches[i][1] == state and t - starts[i] >= margin
                                    and (i + 1 == len(starts) or starts[i + 1] - t >= margin))
                        return keep
                    for state in (True, False):
                        suffix = '_on' if state else '_off'
                        res[ch.name + '_shown_ms' + suffix] = line_latencies(ch, shown[ch.name], self.args.samples,
                                                                             in_state(state))
                    continue
                res[ch.name + '_shown_ms'] = line_latencies(ch, shown[ch.name], self.args.samples)
                res[ch.name + '_entered_ms'] = line_latencies(ch, entered[ch.name], self.args.samples)
            return res
        return self.run(kind, body)

    # ---- start-up
    def startup(self, kind):
        def body(prog, chans):
            if kind == 'cat':
                # A line waits on each port: the floor is the time to read and pass it on.
                for ch in chans.values():
                    ch.write(len(ch.stream.unit.split(b'\r')[0]) + 1)
                t_spawn = prog.start(pipe_stdout=True)
                got = {}
                end = time.monotonic() + 10
                while len(got) < len(prog.procs) and time.monotonic() < end:
                    for p in prog.procs:
                        if p.pid not in got and select.select([p.stdout], [], [], 0.001)[0]:
                            os.read(p.stdout.fileno(), 65536)
                            got[p.pid] = mono()
                return {'painted_ms': (max(got.values()) - t_spawn) / 1e6}
            t_spawn = prog.start(pipe_stdout=True)
            loaded = int(prog.read_line('loaded')[1])
            constructed = int(prog.read_line('constructed')[1])
            painted = int(prog.read_line('painted')[1])
            prog.wait_opened()
            time.sleep(0.3)
            prog.command('dialog')
            _, clicked, shown, listed = prog.read_line('dialog')
            return {'painted_ms': (painted - t_spawn) / 1e6, 'loaded_ms': (loaded - t_spawn) / 1e6,
                    'constructed_ms': (constructed - t_spawn) / 1e6,
                    'dialog_ms': (int(shown) - int(clicked)) / 1e6, 'dialog_ports': int(listed)}
        return self.run(kind, body, extra_ports=98 if kind == 'probe' else 0)


def line_latencies(ch, marks, samples, keep=None):
    """Milliseconds from the write that carried each line's CR to the first mark whose line
    count includes the line; a sample of the lines when there are many. `keep(t)`, when
    given, says whether the line whose CR was written at t counts; the values themselves are
    then returned too, so that runs can be pooled."""
    if not ch.marks_t or not marks:
        return {'median': None, 'p99': None, 'max': None, 'missing': ch.crs}
    mark_t = [m[0] for m in marks]
    mark_n = [m[1] for m in marks]
    step = max(1, ch.crs // samples)
    values, missing = [], 0
    for i in range(0, ch.crs, step):
        k = bisect.bisect_right(ch.marks_cum, i)
        if keep is not None and not keep(ch.marks_t[k]):
            continue
        j = bisect.bisect_right(mark_n, i)
        if j >= len(mark_t):
            missing += 1
            continue
        values.append((mark_t[j] - ch.marks_t[k]) / 1e6)
    res = {'median': statistics.median(values) if values else None, 'p99': percentile(values, 99),
           'mean': statistics.fmean(values) if values else None,
           'max': max(values) if values else None, 'missing': missing, 'sampled': len(values)}
    if keep is not None:
        res['values'] = values
    return res


# ------------------------------------------------------------------------------ report
def med(runs, key, sub=None):
    vals = []
    for r in runs:
        v = r.get(key)
        if sub is not None and isinstance(v, dict):
            v = v.get(sub)
        if isinstance(v, (int, float)) and not isinstance(v, bool):
            vals.append(v)
    return statistics.median(vals) if vals else None


def fmt(v, digits=3):
    if v is None:
        return '-'
    if abs(v) >= 100:
        return f'{v:.0f}'
    if abs(v) >= 10:
        return f'{v:.1f}'
    return f'{v:.{digits}g}'


def report(results, args):
    rows = []

    def row(name, ours, cat, goal=None, ok=None, runs=None):
        ratio = ours / cat if ours is not None and cat not in (None, 0) else None
        rows.append((name, fmt(ours), runs or '', fmt(cat), fmt(ratio, 2), goal or '',
                     '' if ok is None else ('met' if ok else 'NOT MET')))

    def spread(runs, key, sub=None):
        vals = [r.get(key) if sub is None else (r.get(key) or {}).get(sub) for r in runs]
        return ' '.join(fmt(v) for v in vals)

    fl, fc = results.get('flood_brisemer', []), results.get('flood_cat', [])
    if fl:
        v, c = med(fl, 'mb_s_per_channel'), med(fc, 'mb_s_per_channel')
        row('flood: MB/s per channel (slower channel)', v, c, '>= 40 and >= cat/3',
            v is not None and v >= 40 and (c is None or v >= c / 3), spread(fl, 'mb_s_per_channel'))
        row('flood: MB/s GPS channel', med(fl, 'mb_s_gps'), med(fc, 'mb_s_gps'), runs=spread(fl, 'mb_s_gps'))
        row('flood: MB/s AIS channel', med(fl, 'mb_s_ais'), med(fc, 'mb_s_ais'), runs=spread(fl, 'mb_s_ais'))
        v = med(fl, 'cpu_s_per_mb')
        row('flood: CPU s per MB', v, med(fc, 'cpu_s_per_mb'), '<= 0.03', v is not None and v <= 0.03,
            spread(fl, 'cpu_s_per_mb'))
        row('flood: peak resident MiB', med(fl, 'peak_rss_mib'), med(fc, 'peak_rss_mib'),
            runs=spread(fl, 'peak_rss_mib'))
        v = med(fl, 'rss_per_text_byte')
        row('flood: resident growth, bytes per byte of text', v, None, '<= 3', v is not None and v <= 3,
            spread(fl, 'rss_per_text_byte'))
    lv, lc = results.get('live_brisemer', []), results.get('live_cat', [])
    if lv:
        v, c = med(lv, 'cpu_pct'), med(lc, 'cpu_pct')
        row('live: CPU % of one core', v, c, '<= 2 x cat', v is not None and c is not None and v <= 2 * c,
            spread(lv, 'cpu_pct'))
        v = med(lv, 'rss_start_mib')
        row('live: resident at start, MiB', v, med(lc, 'rss_start_mib'), '< 60', v is not None and v < 60,
            spread(lv, 'rss_start_mib'))
        row('live: resident growth, KiB/min', med(lv, 'rss_growth_kib_min'), med(lc, 'rss_growth_kib_min'),
            runs=spread(lv, 'rss_growth_kib_min'))
        v = med(lv, 'rss_growth_per_text_byte')
        row('live: resident growth, bytes per byte of text', v, None, '<= 3', v is not None and v <= 3,
            spread(lv, 'rss_growth_per_text_byte'))
    rp, rc = results.get('replay_brisemer', []), results.get('replay_cat', [])
    if rp:
        v = med(rp, 'cpu_pct')
        row('replay at real pace: CPU % of one core', v, med(rc, 'cpu_pct'), '<= 2', v is not None and v <= 2,
            spread(rp, 'cpu_pct'))
        row('replay at real pace: of which user-interface thread, %', med(rp, 'ui_cpu_pct'), None,
            runs=spread(rp, 'ui_cpu_pct'))
        row('replay at real pace: context switches per second', med(rp, 'switches_per_s'),
            med(rc, 'switches_per_s'), runs=spread(rp, 'switches_per_s'))
    for mode, goal in (('live', 16), ('flood', 50)):
        lp, lcat = results.get(f'latency_{mode}_probe', []), results.get(f'latency_{mode}_cat', [])
        if not lp:
            continue
        for ch in ('gps', 'ais'):
            for stat in ('median', 'p99'):
                v = med(lp, f'{ch}_shown_ms', stat)
                ok = (v is not None and v < goal) if stat == 'p99' else None
                row(f'latency {mode}: {ch.upper()} CR to painted, {stat} ms', v, med(lcat, f'{ch}_shown_ms', stat),
                    f'< {goal}' if stat == 'p99' else None, ok, spread(lp, f'{ch}_shown_ms', stat))
            row(f'latency {mode}: {ch.upper()} CR to in pane, p99 ms', med(lp, f'{ch}_entered_ms', 'p99'),
                med(lcat, f'{ch}_entered_ms', 'p99'), runs=spread(lp, f'{ch}_entered_ms', 'p99'))
        kept = all(r['kept'][c]['kept'] for r in lp for c in r['kept'])
        rows.append((f'latency {mode}: every line kept (panes saved = lines sent)', 'yes' if kept else 'NO',
                     ' '.join(str(sum(r['lines'].values())) + ' lines' for r in lp), '', '', 'all lines',
                     'met' if kept else 'NOT MET'))
        if mode == 'flood':
            intervals = [i for r in lp for i in r.get('refresh_intervals_ms', [])]
            worst = max((abs(i - 2000) for i in intervals), default=None)
            row('flood: status refresh, worst deviation from 2000 ms', worst, None, '<= 20',
                worst is not None and worst <= 20, ' '.join(fmt(i) for i in intervals))
    sp, sc = results.get('startup_probe', []), results.get('startup_cat', [])
    if sp:
        v = med(sp, 'painted_ms')
        row('start-up: process start to window painted, ms', v, med(sc, 'painted_ms'), '< 300',
            v is not None and v < 300, spread(sp, 'painted_ms'))
        row('start-up: of which before main(), ms', med(sp, 'loaded_ms'), None, runs=spread(sp, 'loaded_ms'))
        row('start-up: until the windows were made, ms', med(sp, 'constructed_ms'), None,
            runs=spread(sp, 'constructed_ms'))
        v = med(sp, 'dialog_ms')
        row('settings dialog with %s ports listed: click to painted, ms' % fmt(med(sp, 'dialog_ports')), v, None,
            '< 100', v is not None and v < 100, spread(sp, 'dialog_ms'))
    # The analysis on (column "brisemer") against off (column "cat"): within 5 %.
    def against(name, key, sub=None, higher_is_better=False):
        on = results.get(f'analysis_{name}_on', [])
        off = results.get(f'analysis_{name}_off', [])
        if not on:
            return
        v, c = med(on, key, sub), med(off, key, sub)
        ok = None
        if v is not None and c:
            ok = v >= c * 0.95 if higher_is_better else v <= c * 1.05
        row(f'analysis on / off: {name} {key}{" " + sub if sub else ""}', v, c, 'within 5 %', ok,
            spread(on, key, sub) + ' / ' + spread(off, key, sub))
    against('flood', 'mb_s_per_channel', higher_is_better=True)
    against('live', 'cpu_pct')
    for mode in ('live', 'flood'):
        for ch in ('gps', 'ais'):
            against(f'latency_{mode}', f'{ch}_shown_ms', 'p99')
    # Switched within each run: every line of all runs pooled by the state it was written in.
    mixed = results.get('analysis_latency_live_interleaved', [])
    for ch in ('gps', 'ais'):
        pooled = {}
        for suffix in ('_on', '_off'):
            pooled[suffix] = [v for r in mixed for v in (r.get(f'{ch}_shown_ms{suffix}') or {}).get('values', [])]
        if not pooled['_on'] or not pooled['_off']:
            continue
        for stat, fn in (('median', statistics.median), ('mean', statistics.fmean),
                         ('p99', lambda v: percentile(v, 99))):
            v, c = fn(pooled['_on']), fn(pooled['_off'])
            row(f'analysis switched within the run: live {ch.upper()} CR to painted, {stat} ms '
                f'({len(pooled["_on"])} / {len(pooled["_off"])} lines)', v, c, 'within 5 %', v <= c * 1.05,
                spread(mixed, f'{ch}_shown_ms_on', stat) + ' / ' + spread(mixed, f'{ch}_shown_ms_off', stat))

    head = ('figure', 'brisemer', 'runs', 'cat', 'ratio', 'goal', '')
    widths = [max(len(str(r[i])) for r in rows + [head]) for i in range(len(head))]
    print('| ' + ' | '.join(h.ljust(w) for h, w in zip(head, widths)) + ' |')
    print('|' + '|'.join('-' * (w + 2) for w in widths) + '|')
    for r in rows:
        print('| ' + ' | '.join(str(c).ljust(w) for c, w in zip(r, widths)) + ' |')


def without_values(r):
    return {k: ({kk: vv for kk, vv in v.items() if kk != 'values'} if isinstance(v, dict) else v)
            for k, v in r.items()}


# ------------------------------------------------------------------------------ main
def build(args):
    if args.no_build:
        return
    subprocess.run([os.path.join(ROOT, 'scripts', 'setup')], check=True, stdout=sys.stderr)
    subprocess.run(['cmake', '-S', ROOT, '-B', args.build_dir, '-G', 'Ninja'], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(['cmake', '--build', args.build_dir, '--target', 'brisemer', 'brisemer-probe', 'brisemer-replay'], check=True,
                   stdout=sys.stderr)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('--build-dir', default=os.environ.get('BUILD_DIR', os.path.join(ROOT, 'build')))
    ap.add_argument('--no-build', action='store_true', help='use the executables as they are')
    ap.add_argument('--reps', type=int, default=3)
    ap.add_argument('--only', default='flood,live,replay,latency,startup',
                    help='measures, comma-separated; "analysis" compares the link analysis on and off')
    ap.add_argument('--mbytes', type=float, default=20, help='flood size per channel (MB)')
    ap.add_argument('--live-seconds', type=float, default=60)
    ap.add_argument('--replay-seconds', type=float, default=20, help='length of the replay run')
    ap.add_argument('--latency-seconds', type=float, default=20, help='live latency run length')
    ap.add_argument('--flood-seconds', type=float, default=7, help='timed flood of the latency run')
    ap.add_argument('--samples', type=int, default=100000, help='lines sampled per channel for latency')
    ap.add_argument('--xvfb', action='store_true', help='run on a private Xvfb instead of offscreen')
    ap.add_argument('--data', default=os.path.join(ROOT, 'tests', 'data', 'nmea'))
    ap.add_argument('--out', default=None, help='also write every run as JSON lines here')
    ap.add_argument('--keep', action='store_true', help='keep the scratch folders')
    ap.add_argument('--analysis-measures', default='flood,live,latency_live,latency_flood,latency_live_interleaved',
                    help='which measures "analysis" compares')
    ap.add_argument('--switch-seconds', type=float, default=1.0,
                    help='how long each state lasts on average when the analysis is switched within a run')
    ap.add_argument('--null-switch', action='store_true',
                    help='the switched run leaves the analysis on in both states: the difference between '
                         'the two halves is then the measure\'s own noise')
    ap.add_argument('--perf', type=float, default=0, metavar='SECONDS',
                    help='profile the first live run of Brisemer with perf for this long and print a summary')
    args = ap.parse_args()
    args.build_dir = os.path.abspath(args.build_dir)
    build(args)
    args.exe = os.path.join(args.build_dir, 'monitor', 'brisemer')
    args.probe = os.path.join(args.build_dir, 'bench', 'brisemer-probe')
    args.replay = os.path.join(args.build_dir, 'tools', 'brisemer-replay')
    for exe in (args.exe, args.probe, args.replay):
        if not os.access(exe, os.X_OK):
            sys.exit(f'{exe} is missing: build it first')
    only = set(args.only.split(','))
    analysis_measures = set(args.analysis_measures.split(','))

    bench = Bench(args)
    if args.xvfb:
        bench.display = Display(bench.root)
    results = {}
    plan = []
    for rep in range(args.reps):
        # cat and Brisemer alternate, so that a change in the machine's load hits both.
        if 'flood' in only:
            plan += [('flood_cat', lambda: bench.flood('cat')), ('flood_brisemer', lambda: bench.flood('brisemer'))]
        if 'startup' in only:
            plan += [('startup_cat', lambda: bench.startup('cat')), ('startup_probe', lambda: bench.startup('probe'))]
        if 'latency' in only:
            for mode in ('live', 'flood'):
                plan += [(f'latency_{mode}_cat', lambda m=mode: bench.latency('cat', m)),
                         (f'latency_{mode}_probe', lambda m=mode: bench.latency('probe', m))]
        if 'live' in only:
            plan += [('live_cat', lambda: bench.live('cat')), ('live_brisemer', lambda: bench.live('brisemer'))]
        if 'analysis' in only:
            # On and off alternate measure by measure, as cat and Brisemer do above.
            measures = {'flood': lambda a: bench.flood('probe', a), 'live': lambda a: bench.live('probe', a),
                        'latency_live': lambda a: bench.latency('probe', 'live', a),
                        'latency_flood': lambda a: bench.latency('probe', 'flood', a)}
            for name, measure in measures.items():
                if name in analysis_measures:
                    plan += [(f'analysis_{name}_{"on" if on else "off"}', lambda m=measure, a=on: m(a))
                             for on in (True, False)]
            if 'latency_live_interleaved' in analysis_measures:
                plan.append(('analysis_latency_live_interleaved', lambda: bench.latency('probe', 'live', 'interleaved')))
        if 'replay' in only:
            plan += [('replay_cat', lambda: bench.replay('cat')), ('replay_brisemer', lambda: bench.replay('brisemer'))]
    load = os.getloadavg()
    log(f'load average at the start: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}; scratch {bench.root}')
    try:
        for i, (name, measure) in enumerate(plan):
            log(f'[{i + 1}/{len(plan)}] {name} ...')
            try:
                r = measure()
            except Exception as e:  # noqa: BLE001 - one failed run must not end the others
                r = {'error': f'{type(e).__name__}: {e}'}
                log('  failed:', r['error'])
            r['load'] = os.getloadavg()[0]
            results.setdefault(name, []).append(r)
            if args.out:
                with open(args.out, 'a') as f:
                    f.write(json.dumps({'measure': name, **without_values(r)}) + '\n')
    finally:
        if bench.display:
            bench.display.stop()
        if not args.keep:
            shutil.rmtree(bench.root, ignore_errors=True)
    load_end = os.getloadavg()
    print(f'Brisemer whole-program benchmark, medians of {args.reps} runs '
          f'(load average {load[0]:.2f} at the start, {load_end[0]:.2f} at the end; '
          f'{"Xvfb" if args.xvfb else "offscreen"})')
    report({k: [r for r in v if 'error' not in r] for k, v in results.items()}, args)
    failed = sum('error' in r for v in results.values() for r in v)
    if failed:
        print(f'{failed} run(s) failed; see the messages above')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
