"""The Debian package, unpacked where a test may look at it.

CPack packs this build into a .deb and dpkg-deb -x unpacks it into a scratch root. Then:
the menu entry's command, run from the unpacked tree on a virtual display with a scratch
HOME, shows its window and, quit with "Oui", writes its settings file in
~/.config/brisemer/ (the unpacked bin/ is not writable, as /usr/bin is not; as root the
program runs as nobody); and a small CMake project finds the unpacked libraries with
find_package, builds, and reads a line from a pseudo-terminal named in the serial-port map.

    test_package_e2e.py --cpack CPACK --config FILE --cmake CMAKE --consumer DIR
"""

import argparse
import configparser
import glob
import os
import subprocess
import sys
import unittest

# No compiled files in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2ekit  # noqa: E402

PATHS = argparse.Namespace()
NOBODY = 65534
LINE = b"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"


def run(args, env=None, timeout=240):
    result = subprocess.run(args, env=env, capture_output=True, timeout=timeout)
    if result.returncode != 0:
        raise e2ekit.E2EFailure(f"{' '.join(args)} failed ({result.returncode}): "
                                f"{(result.stdout + result.stderr).decode(errors='replace')[-2000:]}")
    return result


def give_to_nobody(folder):
    for top, folders, files in os.walk(folder):
        for name in [top] + [os.path.join(top, n) for n in folders + files]:
            os.chown(name, NOBODY, NOBODY)


class UnpackedPackage(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.scratch = e2ekit.Scratch("package")
        cls.keep = os.environ.get("BRISEMER_E2E_KEEP") == "1"
        os.chmod(cls.scratch.root, 0o755)
        pack = cls.scratch.path("pack")
        run([PATHS.cpack, "-G", "DEB", "--config", PATHS.config, "-B", pack])
        debs = glob.glob(os.path.join(pack, "brisemer_*.deb"))
        if len(debs) != 1:
            raise e2ekit.E2EFailure(f"CPack made {debs} in {pack}")
        cls.root = cls.scratch.path("root")
        run(["dpkg-deb", "-x", debs[0], cls.root])
        cls.usr = os.path.join(cls.root, "usr")
        libraries = glob.glob(os.path.join(cls.usr, "lib", "**", "libbrisemer-comm.so.0"), recursive=True)
        if len(libraries) != 1:
            raise e2ekit.E2EFailure(f"the package holds {libraries} as the serial component library")
        cls.libdir = os.path.dirname(libraries[0])

    @classmethod
    def tearDownClass(cls):
        cls.scratch.close(keep=cls.keep)

    def run(self, result=None):
        outcome = super().run(result)
        if result and (result.errors or result.failures):
            type(self).keep = True
        return outcome

    def test_menu_entry_starts_the_program_which_saves_in_the_users_config_folder(self):
        scratch = self.scratch
        entry = configparser.ConfigParser(interpolation=None)
        entry.read(os.path.join(self.usr, "share", "applications", "brisemer.desktop"), encoding="utf-8")
        command = entry["Desktop Entry"]["Exec"].split()
        self.assertEqual(len(command), 1, "the menu entry's command takes no arguments")

        scratch.env.pop("XDG_CONFIG_HOME")
        scratch.env["LD_LIBRARY_PATH"] = self.libdir
        bin_folder = os.path.join(self.usr, "bin")
        os.chmod(bin_folder, 0o555)
        options = {}
        if os.geteuid() == 0:
            give_to_nobody(scratch.home)
            give_to_nobody(scratch.runtime)
            options = dict(user=NOBODY, group=NOBODY, extra_groups=[])
        desktop = e2ekit.Desktop(scratch)
        desktop.display = e2ekit.VirtualDisplay(scratch)
        scratch.bin = bin_folder  # the program runs where the package put it, not from a copy
        program = e2ekit.Brisemer(scratch, desktop, os.path.join(bin_folder, command[0]))
        program.popen_options = options
        program.settings_file = os.path.join(scratch.home, ".config", "brisemer", "brisemer.INI")

        program.start()
        program.quit(save_settings=True)
        self.assertEqual(program.settings(), e2ekit.settings_text((0, 4800, 8, 1, 0), (0, 38400, 8, 1, 0)))
        self.assertEqual([n for n in os.listdir(bin_folder) if n.upper().endswith(".INI")], [])

    def test_a_cmake_project_finds_the_libraries_and_reads_a_pseudo_terminal(self):
        build = self.scratch.path("consumer")
        config = self.scratch.path("consumer-config")
        env = dict(os.environ, LD_LIBRARY_PATH=self.libdir, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=config)
        run([PATHS.cmake, "-S", PATHS.consumer, "-B", build, "-G", "Ninja", f"-DCMAKE_PREFIX_PATH={self.usr}"], env)
        run([PATHS.cmake, "--build", build], env)

        master, slave = os.openpty()
        self.addCleanup(os.close, master)
        self.addCleanup(os.close, slave)
        # The port is mapped to the pseudo-terminal before anything opens it.
        os.makedirs(os.path.join(config, "serialcomm"))
        with open(os.path.join(config, "serialcomm", "ports"), "w") as f:
            f.write(f"COM201 = {os.ttyname(slave)}\n")
        proc = subprocess.Popen([os.path.join(build, "readline"), "201"], env=env, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        try:
            said = proc.stdout.readline()
            if said != b"open\n":
                self.fail(f"the port did not open: {said!r} {proc.communicate(timeout=30)}")
            os.write(master, LINE)
            out, err = proc.communicate(timeout=30)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        self.assertEqual((proc.returncode, out), (0, LINE), err.decode(errors="replace"))


if __name__ == "__main__":
    e2ekit.run_tests(sys.modules[__name__], PATHS, ("cpack", "config", "cmake", "consumer"))
