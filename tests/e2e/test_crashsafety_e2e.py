"""Crash safety of the real brisemer executable's settings file.

The program is killed (SIGKILL) at random moments while it writes its settings file on
quit, and while it saves a pane; afterwards the settings file must be either the old file
or the new one, byte for byte, never a torn mixture.

    test_crashsafety_e2e.py --brisemer EXE [unittest arguments]
    test_crashsafety_e2e.py --list          the test cases, one a line
"""

import argparse
import os
import random
import signal
import sys
import time
import unittest

# No compiled files in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2ekit  # noqa: E402

PATHS = argparse.Namespace()

KILL_ROUNDS = 6


def large_settings():
    """About two megabytes of a user's own notes around both channels' ten values, with
    LF line ends: the program keeps the notes byte for byte and writes its ten key lines
    with CR LF, so the old file and the one the program writes differ at both ends."""
    lines = ["; Brisemer settings of the bridge console", "[ComPort GPS]", "ComNb=0", "BaudRate=4800",
             "DataBits=8", "StopBits=1", "Parity=0", "[Log]"]
    lines += [f"; sentence {i} $GPGGA,123519,4807.038,N,01131.000,E {'x' * 440}" for i in range(4000)]
    lines += ["[ComPort AIS]", "ComNb=0", "BaudRate=38400", "DataBits=7", "StopBits=2", "Parity=2"]
    keys = ("ComNb=", "BaudRate=", "DataBits=", "StopBits=", "Parity=")
    old = "".join(line + "\n" for line in lines).encode("ascii")
    new = "".join(line + ("\r\n" if line.startswith(keys) else "\n") for line in lines).encode("ascii")
    return old, new


class KilledProgram(unittest.TestCase):

    def setUp(self):
        self.scratch = e2ekit.Scratch(self.id().rsplit(".", 1)[-1])
        self.desktop = e2ekit.Desktop(self.scratch)
        self.failed = True
        self.addCleanup(lambda: self.scratch.close(keep=self.failed or os.environ.get("BRISEMER_E2E_KEEP") == "1"))
        self.desktop.display = e2ekit.VirtualDisplay(self.scratch)
        self.program = e2ekit.Brisemer(self.scratch, self.desktop, PATHS.brisemer)
        self.old, self.new = large_settings()

    def plant(self):
        with open(self.program.settings_file, "wb") as f:
            f.write(self.old)

    def answer_quit_with_yes(self):
        self.program.click("btnQuit")
        self.desktop.wait_focus(self.desktop.wait_window(e2ekit.CONFIRM_TITLE))
        self.desktop.key("alt+o")

    def kill(self):
        """SIGKILL; the exit status (0 when the program ended on its own just before)."""
        self.program.proc.send_signal(signal.SIGKILL)
        return self.program.proc.wait(timeout=30)

    def test_killed_while_writing_settings_on_quit(self):
        """Killed at random moments after the quit question is answered Yes, the program
        leaves the old settings file or the new one, never part of either."""
        program = self.program
        # A quit left to finish: the new file, and how long the answer takes to end.
        self.plant()
        program.start()
        self.answer_quit_with_yes()
        answered = time.monotonic()
        self.assertEqual(program.proc.wait(timeout=e2ekit.WINDOW_TIMEOUT), 0)
        quit_time = time.monotonic() - answered
        self.assertEqual(program.settings(), self.new)

        outcomes = {"old": 0, "new": 0}
        for round_ in range(KILL_ROUNDS):
            self.plant()
            program.start()
            self.answer_quit_with_yes()
            time.sleep(random.uniform(0, quit_time))
            self.assertIn(self.kill(), (0, -signal.SIGKILL))
            written = program.settings()
            self.assertIn(written, (self.old, self.new),
                          f"round {round_}: torn settings file: "
                          f"{e2ekit.describe_difference(written, self.new)}")
            outcomes["old" if written == self.old else "new"] += 1
            # Whatever a kill left beside it, the next start reads the file.
            for name in os.listdir(self.scratch.bin):
                self.assertTrue(name == "brisemer" or name.startswith("brisemer.INI"), name)
        e2ekit.log_step(f"quit took {quit_time:.3f} s; kills left {outcomes}")
        self.failed = False

    def test_killed_while_saving_a_pane(self):
        """A pane's save killed half way leaves the settings file as it was."""
        program = self.program
        self.plant()
        for round_ in range(KILL_ROUNDS // 2):
            program.start()
            program.click(e2ekit.CHANNELS["GPS"]["save"])
            dialog = self.desktop.wait_window(e2ekit.SAVE_TITLE)
            self.desktop.wait_focus(dialog)
            self.desktop.key("ctrl+a")
            self.desktop.type("capture")
            self.desktop.key("Return")
            time.sleep(random.uniform(0, 0.05))
            self.assertEqual(self.kill(), -signal.SIGKILL)
            self.assertEqual(program.settings(), self.old, f"round {round_}")
        self.failed = False


def main():
    e2ekit.run_tests(sys.modules[__name__], PATHS, ["brisemer"])


if __name__ == "__main__":
    main()
