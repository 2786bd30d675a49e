#!/usr/bin/env python3
"""The menu entry and the AppStream metadata: valid for the desktop's own tools, and agreeing with
each other, with the program and with the release they ship with."""

import os
import re
import unittest
import xml.etree.ElementTree as ElementTree

import desktop_session as session

PACKAGING = os.path.join(session.SOURCE_DIR, "packaging")
DESKTOP_FILE = os.path.join(PACKAGING, f"{session.APP_ID}.desktop")
METAINFO_FILE = os.path.join(PACKAGING, f"{session.APP_ID}.metainfo.xml")
VERSION = os.environ.get("QY_VERSION", "")


class DesktopFilesTest(unittest.TestCase):
    def test_validators_accept_them(self):
        session.require_tools(self, "desktop-file-validate", "appstreamcli")
        for argv in (["desktop-file-validate", DESKTOP_FILE],
                     ["appstreamcli", "validate", "--no-net", "--pedantic", METAINFO_FILE]):
            result = session.run(argv)
            self.assertEqual(result.returncode, 0, result.stdout)
            # desktop-file-validate is silent when all is well; appstreamcli prints only its verdict.
            findings = [line for line in result.stdout.splitlines()
                        if line.strip() and "Validation was successful" not in line]
            self.assertEqual(findings, [], " ".join(argv))

    def test_entry_starts_the_program_and_matches_its_window(self):
        entry = session.read_desktop_entry(DESKTOP_FILE)
        # No field codes: the program takes no arguments.
        self.assertEqual(entry["Exec"], "qingyou")
        self.assertEqual(entry["TryExec"], "qingyou")
        self.assertEqual(entry["Icon"], "qingyou")
        self.assertEqual(entry["StartupWMClass"], "qingyou", "must equal the window's WM_CLASS")
        self.assertIn("Game", entry["Categories"].split(";"))
        self.assertTrue(os.path.isfile(os.path.join(session.SOURCE_DIR, "data/icons/qingyou.svg")))

    def test_metainfo_names_the_entry_and_this_release(self):
        component = ElementTree.parse(METAINFO_FILE).getroot()
        self.assertEqual(component.findtext("id"), session.APP_ID)
        self.assertEqual(component.find("launchable").text, os.path.basename(DESKTOP_FILE))
        self.assertEqual(component.find("provides/binary").text, "qingyou")
        if not VERSION:
            self.skipTest("QY_VERSION not set")
        newest = component.find("releases/release")
        self.assertEqual(newest.get("version"), VERSION, "the metainfo's newest release is not this version")
        with open(os.path.join(PACKAGING, "changelog"), encoding="utf-8") as changelog:
            first = changelog.readline()
        self.assertRegex(first, r"^qingyou \(" + re.escape(VERSION) + r"\) ",
                         "the changelog's newest entry is not this version")


if __name__ == "__main__":
    session.main()
