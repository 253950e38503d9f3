#!/usr/bin/env python3
"""Checks that the end-to-end driver fails, and says why, when a run differs."""
import contextlib
import io
import os
import shutil
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "e2e"))
import run_e2e  # noqa: E402

QXASM = os.environ.get("QXASM", "qxasm")
FAKE = os.path.join(HERE, "fake_player.py")


class DriverTest(unittest.TestCase):
    def run_listing(self, text):
        with tempfile.TemporaryDirectory() as tmp:
            listing = os.path.join(tmp, "case.qxs")
            with open(listing, "w") as f:
                f.write(text)
            out = io.StringIO()
            with contextlib.redirect_stdout(out):
                rc = run_e2e.run_test(listing, QXASM, FAKE, os.path.join(tmp, "work"))
            return rc, out.getvalue()

    def test_stdout_mismatch_prints_a_diff(self):
        rc, out = self.run_listing(";! stdout: args: wrong\n;! stdout: magic: 51584100\n RETURN 0 1\n")
        self.assertEqual(rc, 1)
        self.assertIn("-args: wrong", out)
        self.assertIn("+args: ", out)
        self.assertIn("--- stdout ---", out)

    def test_exit_status_and_missing_text(self):
        rc, out = self.run_listing(";! exit: 4\n;! output-contains: never printed\n RETURN 0 1\n")
        self.assertEqual(rc, 1)
        self.assertIn("exit status 0, expected 4", out)
        self.assertIn("never printed", out)

    def test_assembler_failure_is_a_failure(self):
        rc, out = self.run_listing(" JMP nowhere\n")
        self.assertEqual(rc, 1)
        self.assertIn("undefined label 'nowhere'", out)

    def test_expected_assembler_failure_that_passes_fails(self):
        rc, out = self.run_listing(";! asm-error: anything\n RETURN 0 1\n")
        self.assertEqual(rc, 1)
        self.assertIn("qxasm succeeded", out)

    def test_setup_and_check_commands(self):
        rc, out = self.run_listing(";! setup: echo made > input.txt\n"
                                   ";! check: grep -q made input.txt\n RETURN 0 1\n")
        self.assertEqual(rc, 0, out)
        rc, out = self.run_listing(";! setup: false\n RETURN 0 1\n")
        self.assertEqual(rc, 1)
        self.assertIn("setup failed: false", out)
        rc, out = self.run_listing(";! check: test -e never.txt\n RETURN 0 1\n")
        self.assertEqual(rc, 1)
        self.assertIn("check failed: test -e never.txt", out)
        rc, _ = self.run_listing(";! setup: no-such-tool-qx x\n RETURN 0 1\n")
        self.assertEqual(rc, run_e2e.SKIP)

    def test_picture_against_reference_command(self):
        if not os.path.exists(run_e2e.PIL_PYTHON):
            self.skipTest("no Debian Python")
        make = run_e2e.PIL_PYTHON + " -c 'import sys; from PIL import Image; " \
            "Image.new(\"RGB\", (int(sys.argv[2]), 3), (int(sys.argv[3]), 20, 30)).save(sys.argv[1])'"
        head = ";! setup: %s a.png 4 10\n" % make
        rc, out = self.run_listing(head + ";! picture: a.png 1 = %s {ref} 4 11\n RETURN 0 1\n" % make)
        if rc == run_e2e.SKIP:
            self.skipTest("no PIL")
        self.assertEqual(rc, 0, out)
        rc, out = self.run_listing(head + ";! picture: a.png = %s {ref} 4 13\n RETURN 0 1\n" % make)
        self.assertEqual(rc, 1)
        self.assertIn("12 pixels differ by more than 0 (worst 3)", out)
        rc, out = self.run_listing(head + ";! picture: a.png = %s {ref} 5 10\n RETURN 0 1\n" % make)
        self.assertEqual(rc, 1)
        self.assertIn("sizes differ", out)
        rc, out = self.run_listing(head + ";! picture: a.png = false\n RETURN 0 1\n")
        self.assertEqual(rc, 1)
        self.assertIn("reference command failed", out)

    def test_skip(self):
        rc, _ = self.run_listing(";! skip: not yet\n")
        self.assertEqual(rc, run_e2e.SKIP)

    def test_private_x_server_and_window_manager(self):
        if not shutil.which("Xvfb") or not shutil.which("openbox"):
            self.skipTest("no Xvfb or openbox")
        rc, out = self.run_listing(";! mode: none\n;! xserver: 24\n;! wm: openbox\n"
                                   ";! env: QX_FAKE_DISPLAY=1\n;! xdotool: key a\n"
                                   ";! stdout-contains: display: :\n")
        self.assertEqual(rc, 0, out)
        rc, out = self.run_listing(";! xserver: 12\n")
        self.assertEqual(rc, 1)
        self.assertIn("depth", out)

    def test_bad_expectation_lines(self):
        for bad in (";! stdot: x\n", ";! mode: tape\n", ";! exit: many\n", ";! stdout\n"):
            with self.assertRaises(run_e2e.SpecError, msg=bad):
                run_e2e.parse_spec(bad, "t.qxs")

    def test_value_keeps_inner_spaces(self):
        spec = run_e2e.parse_spec(";!  stdout:   two  spaces\n;! stdout:\n", "t.qxs")
        self.assertEqual(spec["stdout"], ["  two  spaces", ""])


if __name__ == "__main__":
    unittest.main()
