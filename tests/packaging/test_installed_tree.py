#!/usr/bin/env python3
"""cmake --install into a scratch prefix: the layout, the RUNPATH that finds the libraries loaded by
name, and a start of the installed program from a tree it cannot write, moved after installing."""

import filecmp
import os
import stat
import subprocess
import tempfile
import unittest

import desktop_session as session

# Each library with the exports that the program binds by name.
LIBRARY_EXPORTS = {
    "wininet.dll": ["InternetOpenA", "InternetConnectA", "InternetCloseHandle", "HttpOpenRequestA",
                    "InternetSetOptionA", "HttpSendRequestA", "InternetReadFile", "HttpQueryInfoA"],
    "SkinH_EL.dll": ["SkinH_AttachRes"],
}
ICON_SIZES = [16, 24, 32, 48, 64, 128, 256]
INSTALLED_FILES = [
    "bin/qingyou",
    "lib/qingyou/wininet.dll",
    "lib/qingyou/SkinH_EL.dll",
    f"share/applications/{session.APP_ID}.desktop",
    f"share/metainfo/{session.APP_ID}.metainfo.xml",
    "share/icons/hicolor/scalable/apps/qingyou.svg",
    "share/man/man6/qingyou.6.gz",
    "share/doc/qingyou/copyright",
    "share/doc/qingyou/changelog.gz",
] + [f"share/icons/hicolor/{size}x{size}/apps/qingyou.png" for size in ICON_SIZES]


class InstalledTreeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="qy-install-")
        installed = os.path.join(cls.scratch.name, "installed")
        result = session.run(["cmake", "--install", session.BUILD_DIR, "--prefix", installed])
        if result.returncode != 0:
            raise AssertionError("cmake --install failed:\n" + result.stdout)
        # Moved after installing: nothing in the tree may depend on where it was installed.
        cls.prefix = os.path.join(cls.scratch.name, "moved", "prefix")
        os.makedirs(os.path.dirname(cls.prefix))
        os.rename(installed, cls.prefix)
        cls.program = os.path.join(cls.prefix, "bin", "qingyou")

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def test_layout(self):
        for relative in INSTALLED_FILES:
            self.assertTrue(os.path.isfile(os.path.join(self.prefix, relative)), relative)
        self.assertTrue(os.access(self.program, os.X_OK))
        # The run directory holds the program alone; the engine is written there only at run time.
        self.assertEqual(os.listdir(os.path.join(self.prefix, "bin")), ["qingyou"])
        for size in ICON_SIZES:
            png = os.path.join(self.prefix, f"share/icons/hicolor/{size}x{size}/apps/qingyou.png")
            self.assertEqual(session.png_size(png), (size, size), png)
        self.assertTrue(filecmp.cmp(os.path.join(session.SOURCE_DIR, "data/icons/qingyou.svg"),
                                    os.path.join(self.prefix, "share/icons/hicolor/scalable/apps/qingyou.svg"),
                                    shallow=False), "the menu icon is not the window's drawing")

    def test_libraries_are_found_through_runpath(self):
        session.require_tools(self, "readelf", "nm")
        entries = session.dynamic_entries(self.program)
        self.assertIn(("RUNPATH", "Library runpath: [$ORIGIN/../lib/qingyou]"), entries)
        self.assertNotIn("RPATH", [tag for tag, _ in entries], "RPATH would outrank LD_LIBRARY_PATH")
        # The libraries are bound by name at run time, never linked.
        needed = " ".join(value for tag, value in entries if tag == "NEEDED")
        self.assertNotIn(".dll", needed)
        library_dir = os.path.join(os.path.dirname(self.program), "..", "lib", "qingyou")
        for library, exports in LIBRARY_EXPORTS.items():
            path = os.path.join(library_dir, library)
            defined = session.run(["nm", "-D", "--defined-only", path], check=True).stdout.split()
            for export in exports:
                self.assertIn(export, defined, f"{library} lacks {export}")
            unresolved = session.run(["ldd", path]).stdout
            self.assertNotIn("not found", unresolved, f"{library}:\n{unresolved}")

    def test_starts_from_a_tree_it_cannot_write(self):
        if not os.environ.get("DISPLAY"):
            self.skipTest("no DISPLAY")
        session.require_tools(self, "xdotool", "xprop")
        home = os.path.join(self.scratch.name, "home")
        elsewhere = os.path.join(self.scratch.name, "elsewhere")
        os.makedirs(home, exist_ok=True)
        os.makedirs(elsewhere, exist_ok=True)
        argv, restore = self.read_only_start(self.prefix, self.program)
        self.addCleanup(restore)
        env = session.session_environment(os.environ.get("PATH", "/usr/bin:/bin"), home)
        entry = session.read_desktop_entry(os.path.join(self.prefix, f"share/applications/{session.APP_ID}.desktop"))

        with session.LocalServer(), session.ProgramRun(argv, cwd=elsewhere, env=env) as program:
            window = program.wait_for_window()
            self.assertIsNotNone(window, "no window; exit code %s, output:\n%s" % (program.process.poll(), program.log()))
            self.assertEqual(session.window_class(window), ("qingyou", "qingyou"))
            self.assertIn(entry["StartupWMClass"], session.window_class(window))
            self.assertEqual(os.listdir(os.path.join(self.prefix, "bin")), ["qingyou"],
                             "the program wrote next to itself in a tree it cannot write")
            session.close_window(window)
            self.assertEqual(program.wait_for_exit(), 0, program.log())
        self.assertEqual(os.listdir(os.path.join(self.prefix, "bin")), ["qingyou"])

    def read_only_start(self, prefix, program):
        """The command that starts the program with its tree read-only, and how to undo that."""
        if os.geteuid() != 0:
            # Permissions bind an ordinary user, so taking the write bits is enough.
            bin_dir = os.path.dirname(program)
            mode = stat.S_IMODE(os.stat(bin_dir).st_mode)
            os.chmod(bin_dir, mode & ~0o222)
            return [program], lambda: os.chmod(bin_dir, mode)
        # Root ignores permissions: a read-only bind mount in a private mount namespace, which
        # disappears with the program, so nothing is left mounted even when the test is killed.
        if session.run(["unshare", "--mount", "--propagation", "private", "true"]).returncode == 0:
            script = ('mount --bind "$1" "$1" && mount -o remount,ro,bind "$1" || exit 98\n'
                      'touch "$1/bin/.writable" 2>/dev/null && exit 99\n'
                      'exec "$2"')
            return ["unshare", "--mount", "--propagation", "private", "sh", "-c", script, "sh", prefix, program], \
                lambda: None
        bin_dir = os.path.dirname(program)
        if session.run(["chattr", "+i", bin_dir]).returncode == 0:
            return [program], lambda: subprocess.run(["chattr", "-i", bin_dir], check=False)
        self.skipTest("as root, neither a read-only mount nor chattr +i is possible here")


if __name__ == "__main__":
    session.main()
