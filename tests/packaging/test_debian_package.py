#!/usr/bin/env python3
"""The Debian package made by CPack: its files and fields, lintian's verdict, and a real install,
start from the menu entry, and removal. Installing changes the system, so this runs only as root
with CI=true."""

import glob
import os
import re
import shutil
import tempfile
import unittest

import desktop_session as session

PACKAGE = "qingyou"
EXPECTED_FILES = {
    "usr/games/qingyou",
    "usr/lib/qingyou/wininet.dll",
    "usr/lib/qingyou/SkinH_EL.dll",
    f"usr/share/applications/{session.APP_ID}.desktop",
    f"usr/share/metainfo/{session.APP_ID}.metainfo.xml",
    "usr/share/icons/hicolor/scalable/apps/qingyou.svg",
    "usr/share/man/man6/qingyou.6.gz",
    "usr/share/doc/qingyou/copyright",
    "usr/share/doc/qingyou/changelog.gz",
} | {f"usr/share/icons/hicolor/{size}x{size}/apps/qingyou.png" for size in (16, 24, 32, 48, 64, 128, 256)}
# Each must appear in Depends, as a package or as one of a clause's alternatives.
REQUIRED_DEPENDS = ["libgtk-3-0", "libwebkit2gtk-4.1-0", "libcurl4", "xdg-utils", "fonts-noto-cjk"]
# The engine a run as root writes next to the installed program.
WRITTEN_ENGINE = "/usr/games/SkinH_EL.dll"


def user_path():
    """The PATH Debian gives a user's session, where the menu looks up Exec."""
    try:
        with open("/etc/login.defs", encoding="utf-8") as defs:
            for line in defs:
                match = re.match(r"^ENV_PATH\s+PATH=(\S+)", line)
                if match:
                    return match.group(1)
    except OSError:
        pass
    return "/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games"


def apt(*arguments):
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    return session.run(["apt-get", "-y", "-q", *arguments], env=env)


def installed():
    status = session.run(["dpkg-query", "-W", "-f=${Status}", PACKAGE]).stdout
    return status.endswith(" installed")


class DebianPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if os.environ.get("CI") != "true" or os.geteuid() != 0:
            raise unittest.SkipTest("installs a package into this system: runs only as root with CI=true")
        missing = [tool for tool in ("cpack", "dpkg-deb", "apt-get", "readelf") if shutil.which(tool) is None]
        if missing:
            raise AssertionError("missing " + ", ".join(missing))
        cls.scratch = tempfile.TemporaryDirectory(prefix="qy-deb-")
        result = session.run(["cpack", "-G", "DEB", "-B", cls.scratch.name,
                              "--config", os.path.join(session.BUILD_DIR, "CPackConfig.cmake")])
        packages = glob.glob(os.path.join(cls.scratch.name, f"{PACKAGE}_*.deb"))
        if result.returncode != 0 or len(packages) != 1:
            cls.scratch.cleanup()
            raise AssertionError("cpack -G DEB failed:\n" + result.stdout)
        cls.deb = packages[0]
        cls.unpacked = os.path.join(cls.scratch.name, "unpacked")
        session.run(["dpkg-deb", "-x", cls.deb, cls.unpacked], check=True)

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def field(self, name):
        return session.run(["dpkg-deb", "-f", self.deb, name], check=True).stdout.strip()

    def test_files(self):
        listing = session.run(["dpkg-deb", "-c", self.deb], check=True).stdout.splitlines()
        files = {}
        for line in listing:
            mode, owner, _size, _date, _time, path = line.split(None, 5)
            if not mode.startswith("d"):
                files[path.removeprefix("./")] = (mode, owner)
        self.assertEqual(set(files), EXPECTED_FILES)
        self.assertEqual(files["usr/games/qingyou"][0], "-rwxr-xr-x")
        for path, (mode, owner) in files.items():
            self.assertEqual(owner, "root/root", path)
            self.assertNotIn("w", mode[4:], path)

    def test_fields(self):
        self.assertEqual(self.field("Package"), PACKAGE)
        self.assertEqual(self.field("Section"), "games")
        self.assertEqual(self.field("Architecture"), session.run(["dpkg", "--print-architecture"]).stdout.strip())
        if os.environ.get("QY_VERSION"):
            self.assertEqual(self.field("Version"), os.environ["QY_VERSION"])
        self.assertRegex(self.field("Maintainer"), r"^[^<>]+ <[^<>@\s]+@[^<>@\s]+>$")
        summary, _, extended = self.field("Description").partition("\n")
        self.assertTrue(summary and extended, "a summary line and an extended description")
        # Every package named in some clause, alternatives included.
        depends = {re.sub(r"\s*\(.*\)", "", alternative).strip()
                   for clause in self.field("Depends").split(",") for alternative in clause.split("|")}
        for required in REQUIRED_DEPENDS:
            self.assertIn(required, depends)

    def test_binaries_are_stripped_and_find_their_libraries(self):
        program = os.path.join(self.unpacked, "usr/games/qingyou")
        self.assertIn(("RUNPATH", "Library runpath: [$ORIGIN/../lib/qingyou]"), session.dynamic_entries(program))
        self.assertTrue(os.path.isdir(os.path.join(os.path.dirname(program), "..", "lib", "qingyou")))
        for binary in ("usr/games/qingyou", "usr/lib/qingyou/wininet.dll", "usr/lib/qingyou/SkinH_EL.dll"):
            sections = session.run(["readelf", "-S", "-W", os.path.join(self.unpacked, binary)], check=True).stdout
            self.assertNotIn(".debug_info", sections, binary)
            self.assertNotIn(".symtab", sections, binary)

    def test_lintian_reports_no_error(self):
        session.require_tools(self, "lintian")
        result = session.run(["lintian", "--no-tag-display-limit", self.deb])
        errors = [line for line in result.stdout.splitlines() if line.startswith("E:")]
        self.assertEqual(errors, [], result.stdout)

    def test_installs_starts_from_the_menu_and_removes_cleanly(self):
        self.addCleanup(lambda: apt("purge", PACKAGE) if session.run(["dpkg-query", "-W", PACKAGE]).returncode == 0
                        else None)
        result = apt("install", self.deb)
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertTrue(installed())
        owned = [path for path in session.run(["dpkg", "-L", PACKAGE], check=True).stdout.splitlines()
                 if os.path.isfile(path)]
        self.assertEqual({path.removeprefix("/") for path in owned}, EXPECTED_FILES)

        entry = session.read_desktop_entry(f"/usr/share/applications/{session.APP_ID}.desktop")
        program = shutil.which(entry["Exec"], path=user_path())
        self.assertEqual(program, "/usr/games/qingyou", "the menu entry's Exec is not found on a user's PATH")
        if os.environ.get("DISPLAY"):
            self.start_and_close(program, user="nobody")
            self.assertFalse(os.path.exists(WRITTEN_ENGINE), "a user run wrote into /usr/games")
            # Root can write next to the program, and does; removal must take that copy too.
            self.start_and_close(program, user=None)
            self.assertTrue(os.path.exists(WRITTEN_ENGINE))

        result = apt("remove", PACKAGE)
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertFalse(installed())
        left = [path for path in owned + [WRITTEN_ENGINE, "/usr/lib/qingyou", "/usr/share/doc/qingyou"]
                if os.path.lexists(path)]
        self.assertEqual(left, [], "left under /usr after removal")

    def start_and_close(self, program, user):
        home = tempfile.mkdtemp(prefix="qy-home-")
        self.addCleanup(shutil.rmtree, home, True)
        if user is not None:
            shutil.chown(home, user)
        env = session.session_environment(user_path(), home)
        with session.LocalServer(), session.ProgramRun([program], cwd=home, env=env, user=user) as run:
            window = run.wait_for_window()
            self.assertIsNotNone(window, "no window (user %s); exit code %s, output:\n%s"
                                 % (user or "root", run.process.poll(), run.log()))
            entry = session.read_desktop_entry(f"/usr/share/applications/{session.APP_ID}.desktop")
            self.assertIn(entry["StartupWMClass"], session.window_class(window))
            session.close_window(window)
            self.assertEqual(run.wait_for_exit(), 0, run.log())


if __name__ == "__main__":
    session.main()
