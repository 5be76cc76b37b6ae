"""End-to-end tests of the real brisemer executable.

Each test starts a virtual display, brisemer-replay serving real NMEA/AIS recordings on
pseudo-terminals, and a copy of brisemer; it drives the program through its windows and
checks what the program wrote - the saved panes and the settings file - byte for byte
against the recordings.

    test_brisemer_e2e.py --brisemer EXE --replay EXE --data DIR [unittest arguments]
    test_brisemer_e2e.py --list          the test cases, one a line
"""

import argparse
import fcntl
import os
import sys
import time
import unittest

# No compiled files in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2ekit  # noqa: E402
from e2ekit import pane_lines, saved_text, settings_text, wire_bytes  # noqa: E402

PATHS = argparse.Namespace()

DEFAULT_AIS = (0, 38400, 8, 1, 0)


class BrisemerCase(unittest.TestCase):
    """A scratch folder, a display, a desktop; replay and program made by each test."""

    def setUp(self):
        self.scratch = e2ekit.Scratch(self.id().rsplit(".", 1)[-1])
        self.desktop = e2ekit.Desktop(self.scratch)
        self.addCleanup(self._finish)
        self.desktop.display = e2ekit.VirtualDisplay(self.scratch)
        self.program = e2ekit.Brisemer(self.scratch, self.desktop, PATHS.brisemer)

    def _finish(self):
        failed = self._failed()
        if failed:
            self.desktop.screenshot(self.scratch.path("failure.png"))
            print(f"\nkept for inspection: {self.scratch.root}", file=sys.stderr)
        self.scratch.close(keep=failed or os.environ.get("BRISEMER_E2E_KEEP") == "1")

    def _failed(self):
        # Before Python 3.11 the outcome collects the errors; since then the result does.
        errors = getattr(self._outcome, "errors", None)
        if errors is not None:
            return any(error for _, error in errors)
        result = self._outcome.result
        return any(test is self for test, _ in result.errors + result.failures)

    def recording(self, name):
        return os.path.join(PATHS.data, name)

    def replay(self, *args, linger=30):
        return e2ekit.Replay(self.scratch, PATHS.replay, list(args), linger=linger)

    def write_settings(self, gps, ais):
        with open(self.program.settings_file, "wb") as f:
            f.write(settings_text(gps, ais))

    def assert_sent(self, stats, port, sent):
        """The oracle agrees with what the replay tool says it sent."""
        self.assertIn(port, stats)
        self.assertEqual(stats[port]["bytes"], len(sent), f"{port}: bytes sent by the replay tool")
        self.assertEqual(stats[port]["hangups"], 0)


class PersonAtTheDesk(BrisemerCase):

    def test_choose_ports_save_quit_restart_and_capture(self):
        """Ports chosen in the settings dialog reach the settings file; after a restart both
        channels show every line sent, in order, and the saved panes hold exactly them."""
        gps_file, ais_file = self.recording("garmin-geko201.log"), self.recording("sample.aivdm")
        replay = self.replay("--port", f"COM201:9600:{gps_file}", "--port", f"COM202:38400:{ais_file}")
        program = self.program

        # First run, no settings file: defaults, both ports closed, panes with first lines.
        program.start()
        program.wait_lamps("GPS", on=False, off=True)
        program.wait_lamps("AIS", on=False, off=True)

        # A pane saved before anything arrived holds its first line. Typed as capture.log,
        # written as capture.txt; saving the same name again asks about capture.txt, and
        # answering No keeps the file as it was.
        self.assertEqual(program.save_pane("GPS", "capture.log"), b"MemoGPS\r\n")
        capture = program.file("capture.txt")
        self.assertFalse(os.path.exists(program.file("capture.log")))
        self.assertIsNone(program.save_pane("GPS", "capture.log", question="no"))
        self.assertEqual(os.stat(capture).st_mtime_ns, 0, "capture.txt was rewritten after No")
        self.assertEqual(program.save_pane("AIS", "capture.log", question="yes"), b"Memo AIS\r\n")

        # GPS on COM201 at 9600 baud; the AIS channel may not take the same port, then
        # gets COM202 and keeps its 38400 baud.
        dialog = program.open_settings("GPS")
        program.pick(dialog, "nrDeviceBox1", "COM201")
        program.pick(dialog, "CBoxBaudRate", "9600")
        program.close_settings(dialog)
        dialog = program.open_settings("AIS")
        program.pick(dialog, "nrDeviceBox1", "COM201", refused=True)
        program.pick(dialog, "nrDeviceBox1", "COM202")
        program.close_settings(dialog)
        # The settings file is written at quit only.
        self.assertFalse(os.path.exists(program.settings_file))
        program.quit(save_settings=True)
        self.assertEqual(program.settings(), settings_text((201, 9600, 8, 1, 0), (202, 38400, 8, 1, 0)))

        # Second run: the settings file opens both ports and clears both panes.
        program.start()
        program.wait_lamps("GPS", on=True, off=False)
        program.wait_lamps("AIS", on=True, off=False)
        replay.release()
        stats = replay.wait_stats(timeout=120)
        gps_sent, ais_sent = wire_bytes(gps_file), wire_bytes(ais_file)
        self.assert_sent(stats, "COM201", gps_sent)
        self.assert_sent(stats, "COM202", ais_sent)

        program.save_until_complete("GPS", "gps", saved_text(pane_lines(gps_sent)))
        program.save_until_complete("AIS", "ais", saved_text(pane_lines(ais_sent)))

        # Quitting with No leaves the settings file as it was.
        before = program.settings()
        program.quit(save_settings=False)
        self.assertEqual(program.settings(), before)

    def test_close_one_channel_while_both_receive(self):
        """Closing the GPS port stops the GPS pane at a line boundary while the AIS channel
        goes on to the last line; the settings saved at quit have no GPS port."""
        gps_file, ais_file = self.recording("haicom-305N.log"), self.recording("sample.aivdm")
        # The AIS recording lasts longer than the GPS one, so it is still arriving when
        # the GPS port closes.
        replay = self.replay("--port", f"COM201:19200:{gps_file}", "--port", f"COM202:4800:{ais_file}",
                             "--settings-file", self.program.settings_file, linger=2)
        program = self.program
        program.start()
        program.wait_lamps("GPS", on=True, off=False)
        program.wait_lamps("AIS", on=True, off=False)
        replay.release()

        gps_sent, ais_sent = wire_bytes(gps_file), wire_bytes(ais_file)
        gps_all = pane_lines(gps_sent)
        e2ekit.wait_for(lambda: len(self._saved_lines("GPS")) >= 3, 60, "three GPS lines")
        program.click("BtnClose1")
        program.wait_lamps("GPS", on=False, off=True)
        closed_with = self._saved_lines("GPS")

        stats = replay.wait_stats(timeout=120)
        self.assert_sent(stats, "COM202", ais_sent)
        program.save_until_complete("AIS", "ais", saved_text(pane_lines(ais_sent)))

        # The GPS pane kept what it had and got nothing more: a beginning of the recording,
        # not all of it.
        gps_lines = self._saved_lines("GPS")
        self.assertEqual(gps_lines, closed_with)
        self.assertEqual(gps_lines, gps_all[:len(gps_lines)])
        self.assertLess(len(gps_lines), len(gps_all))

        program.quit(save_settings=True)
        self.assertEqual(program.settings(), settings_text((0, 19200, 8, 1, 0), (202, 4800, 8, 1, 0)))

    def test_other_channels_port_refused_while_both_receive(self):
        """With both channels open, picking the AIS port for GPS is refused before anything
        moves: the GPS pane goes on with every line of its recording, none lost."""
        gps_file, ais_file = self.recording("garmin-geko201.log"), self.recording("sample.aivdm")
        replay = self.replay("--port", f"COM201:9600:{gps_file}", "--port", f"COM202:38400:{ais_file}",
                             "--loop", "forever", "--settings-file", self.program.settings_file)
        program = self.program
        program.start()
        program.wait_lamps("GPS", on=True, off=False)
        program.wait_lamps("AIS", on=True, off=False)
        replay.release()
        e2ekit.wait_for(lambda: len(self._saved_lines("GPS")) >= 3, 60, "three GPS lines")

        dialog = program.open_settings("GPS")
        program.pick(dialog, "nrDeviceBox1", "COM202", refused=True)
        program.close_settings(dialog, ok=False)
        program.wait_lamps("GPS", on=True, off=False)
        refused_at = len(self._saved_lines("GPS"))
        e2ekit.wait_for(lambda: len(self._saved_lines("GPS")) >= refused_at + 5, 60, "more GPS lines")
        # From the first line on, as sent: the port was never closed.
        lines = self._saved_lines("GPS")
        sent = pane_lines(wire_bytes(gps_file, loops=len(lines) // len(pane_lines(wire_bytes(gps_file))) + 1))
        self.assertEqual(lines, sent[:len(lines)])

        program.quit(save_settings=True)
        self.assertEqual(program.settings(), settings_text((201, 9600, 8, 1, 0), (202, 38400, 8, 1, 0)))

    def test_lamps_show_whether_each_port_is_open(self):
        """The "On" and "Off" lamps after a failed open, OK on a closed and on an open
        channel, a device that vanished and "&RS-Param", each also after the next refresh."""
        gps_file, ais_file = self.recording("garmin-geko201.log"), self.recording("sample.aivdm")
        replay = self.replay("--port", f"COM201:9600:{gps_file}", "--port", f"COM202:38400:{ais_file}",
                             "--port", f"COM203:4800:{gps_file}", "--hangup", "COM202:20")
        # Another program holds COM203, so the GPS port fails to open at start-up.
        holder = os.open(self.scratch.served_ports["COM203"], os.O_RDWR | os.O_NOCTTY)
        self.addCleanup(os.close, holder)
        fcntl.flock(holder, fcntl.LOCK_EX | fcntl.LOCK_NB)
        self.write_settings((203, 4800, 8, 1, 0), (202, 38400, 8, 1, 0))
        program = self.program
        program.start()
        program.hold_lamps("GPS", on=False, off=True)
        program.wait_lamps("AIS", on=True, off=False)

        # OK on the closed channel stores COM201 without opening it.
        dialog = program.open_settings("GPS")
        program.pick(dialog, "nrDeviceBox1", "COM201")
        program.close_settings(dialog)
        program.hold_lamps("GPS", on=False, off=True)
        # OK on the open channel closes and reopens its port.
        program.close_settings(program.open_settings("AIS"))
        program.hold_lamps("AIS", on=True, off=False)
        self.desktop.screenshot(self.scratch.path("lamps.png"))

        # The AIS device goes away after twenty sentences.
        replay.release()
        program.wait_lamps("AIS", on=False, off=True, timeout=60)
        program.hold_lamps("AIS", on=False, off=True)

        program.click("BitBtn1")
        program.hold_lamps("GPS", on=False, off=True)
        program.hold_lamps("AIS", on=False, off=True)
        program.quit(save_settings=False)

    def test_channel_comes_back_when_its_device_returns(self):
        """Both ports reached through links named in the map: the GPS adapter pulled shows
        "Off" past the next refresh; plugged in again (the link made anew to another
        pseudo-terminal), lines sent after its return are in the pane within 2 s, after the
        ones from before, while the AIS channel lost nothing."""
        ais_file = self.recording("sample.aivdm")
        replay = self.replay("--port", f"COM202:38400:{ais_file}", "--loop", "forever", "--no-map-file")
        gps_link, ais_link = self.scratch.path("gps-adapter"), self.scratch.path("ais-adapter")
        os.symlink(replay.devices()["COM202"], ais_link)
        gps = e2ekit.PseudoTerminal()
        self.addCleanup(gps.close)
        os.symlink(gps.device, gps_link)
        self.scratch.map_port("COM201", gps_link)
        self.scratch.map_port("COM202", ais_link)
        self.write_settings((201, 4800, 8, 1, 0), (202, 38400, 8, 1, 0))
        program = self.program
        program.start()
        program.wait_lamps("GPS", on=True, off=False)
        program.wait_lamps("AIS", on=True, off=False)
        replay.release()

        sentences = [line + b"\r\n" for line in wire_bytes(self.recording("garmin-geko201.log")).split(b"\r\n")]
        before, after = b"".join(sentences[:10]), b"".join(sentences[10:20])
        gps.write(before)
        e2ekit.wait_for(lambda: self._saved_lines("GPS") == pane_lines(before), 60, "the GPS lines before the pull")

        os.unlink(gps_link)
        gps.close()
        program.hold_lamps("GPS", on=False, off=True)
        ais_at_return = len(self._saved_lines("AIS"))

        back = e2ekit.PseudoTerminal()
        self.addCleanup(back.close)

        def plug_in_and_send():
            os.symlink(back.device, gps_link)
            returned = time.monotonic()
            e2ekit.wait_for(lambda: program.holds(back.device), 2, "the GPS port to reopen")
            back.write(after)
            # The pane is saved as it is 2 s after the return.
            time.sleep(max(0.0, returned + 2 - time.monotonic()))

        # The save dialog is up while the adapter comes back: the name is confirmed 2 s after.
        self.assertEqual(program.save_pane("GPS", "gps", before_return=plug_in_and_send),
                         saved_text(pane_lines(before + after)))
        program.wait_lamps("GPS", on=True, off=False)

        ais_lines = self._saved_lines("AIS")
        self.assertGreater(len(ais_lines), ais_at_return, "the AIS channel stopped receiving")
        sent = pane_lines(wire_bytes(ais_file, loops=len(ais_lines) // len(pane_lines(wire_bytes(ais_file))) + 1))
        self.assertEqual(ais_lines, sent[:len(ais_lines)])

    def test_port_appended_to_map_file_is_offered_and_receives(self):
        """A port named in the map file while the program runs is in the settings dialog's
        list; picked for the open GPS channel, it is opened and its lines reach the pane."""
        first, added = e2ekit.PseudoTerminal(), e2ekit.PseudoTerminal()
        self.addCleanup(first.close)
        self.addCleanup(added.close)
        self.scratch.map_port("COM201", first.device)
        self.write_settings((201, 4800, 8, 1, 0), DEFAULT_AIS)
        program = self.program
        program.start()
        program.wait_lamps("GPS", on=True, off=False)

        # The dialog has shown the list of ports once before the map file is edited.
        program.close_settings(program.open_settings("GPS"), ok=False)
        self.scratch.map_port("COM205", added.device)

        def moved():
            # The list follows the edit once it has settled: tried until it offers COM205
            # (typed where it is missing, the name leaves COM201 picked).
            dialog = program.open_settings("GPS")
            program.pick(dialog, "nrDeviceBox1", "COM205")
            program.close_settings(dialog)
            return program.holds(added.device) and not program.holds(first.device)

        e2ekit.wait_for(moved, 10, "the GPS channel to move to COM205", interval=0.2)
        sent = wire_bytes(self.recording("garmin-geko201.log"))
        added.write(sent)
        program.save_until_complete("GPS", "gps", saved_text(pane_lines(sent)))

    def _saved_lines(self, channel):
        """The pane's lines, through a save of the pane (the pane was cleared at start-up)."""
        exists = os.path.exists(self.program.file("peek.txt"))
        text = self.program.save_pane(channel, "peek", question="yes" if exists else None)
        self.assertTrue(text == b"" or text.endswith(b"\r\n"), f"saved text ends inside a line: {text[-40:]!r}")
        return text.split(b"\r\n")[:-1]


class ReceiveUnderLoad(BrisemerCase):

    def test_flood_keeps_every_line_in_order(self):
        """Both channels flooded as fast as the program reads: lines split across large
        reads are joined again, and nothing is lost, doubled or reordered."""
        gps_file, ais_file = self.recording("telit-he910.log"), self.recording("sample.aivdm")
        replay = self.replay("--port", f"COM201:4800:{gps_file}", "--port", f"COM202:38400:{ais_file}",
                             "--flood", "--loop", "2", "--settings-file", self.program.settings_file)
        program = self.program
        program.start()
        program.wait_lamps("GPS", on=True, off=False)
        program.wait_lamps("AIS", on=True, off=False)
        replay.release()
        stats = replay.wait_stats(timeout=120)
        gps_sent, ais_sent = wire_bytes(gps_file, loops=2), wire_bytes(ais_file, loops=2)
        self.assert_sent(stats, "COM201", gps_sent)
        self.assert_sent(stats, "COM202", ais_sent)
        program.save_until_complete("GPS", "gps", saved_text(pane_lines(gps_sent)))
        program.save_until_complete("AIS", "ais", saved_text(pane_lines(ais_sent)))

    def test_binary_bytes_survive_the_code_page(self):
        """A receiver that mixes binary frames with NMEA, replayed byte for byte: every byte
        but the carriage returns comes back in the saved file; the unused AIS channel saves
        an empty file."""
        gps_file = self.recording("ublox-8.log")
        replay = self.replay("--port", f"COM201:115200:{gps_file}", "--raw")
        self.write_settings((201, 115200, 8, 1, 0), DEFAULT_AIS)
        program = self.program
        program.start()
        program.wait_lamps("GPS", on=True, off=False)
        program.wait_lamps("AIS", on=False, off=True)
        replay.release()
        stats = replay.wait_stats(timeout=120)
        gps_sent = wire_bytes(gps_file, raw=True)
        self.assertTrue(any(b >= 0x80 for b in gps_sent), "the recording should hold binary bytes")
        self.assert_sent(stats, "COM201", gps_sent)
        program.save_until_complete("GPS", "gps", saved_text(pane_lines(gps_sent)))
        self.assertEqual(program.save_pane("AIS", "ais"), b"")


class ContinuousCapture(BrisemerCase):

    def test_capture_holds_the_bytes_as_received_and_replays_to_the_same_pane(self):
        """A capture started from the pane's menu holds exactly the bytes sent, binary
        frames included; replayed by brisemer-replay it gives the same pane again."""
        gps_file = self.recording("ublox-8.log")
        replay = self.replay("--port", f"COM201:115200:{gps_file}", "--raw",
                             "--settings-file", self.program.settings_file)
        program = self.program
        program.start()
        program.wait_lamps("GPS", on=True, off=False)
        capture = self.scratch.path("capture.log")
        program.start_capture("GPS", capture)
        replay.release()
        sent = wire_bytes(gps_file, raw=True)
        self.assert_sent(replay.wait_stats(timeout=120), "COM201", sent)
        e2ekit.wait_for(lambda: os.path.getsize(capture) >= len(sent), 60, "the capture to hold every byte")
        with open(capture, "rb") as f:
            self.assertEqual(f.read(), sent, "the capture differs from the bytes sent")
        expected = saved_text(pane_lines(sent))
        program.save_until_complete("GPS", "first", expected)
        program.quit(save_settings=False)

        # The capture on the wire again, as it is.
        replay = self.replay("--port", f"COM201:115200:{capture}", "--raw")
        program.start()
        program.wait_lamps("GPS", on=True, off=False)
        replay.release()
        self.assert_sent(replay.wait_stats(timeout=120), "COM201", sent)
        program.save_until_complete("GPS", "second", expected)
        program.quit(save_settings=False)


def main():
    e2ekit.run_tests(sys.modules[__name__], PATHS, ["brisemer", "replay", "data"])


if __name__ == "__main__":
    main()
