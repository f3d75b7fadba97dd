"""Faults a catalogue meets on real media and disks: huge folders, deep trees, a disk that fills."""

import hashlib
import os
import resource
import signal
import subprocess
import tempfile
import unittest

from test_cli_csv import KARTOMA, read_csv


def run_limited(args, file_size_limit):
    """Runs kartoma with writes limited to `file_size_limit` bytes per file: a disk that fills."""
    def limit():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit))
    return subprocess.run([KARTOMA, *args], capture_output=True, timeout=300, preexec_fn=limit)


class Faults(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def path(self, *parts):
        return os.path.join(self.tmp.name, *parts)

    def test_a_folder_of_100000_entries(self):
        os.mkdir(self.path("big"))
        for i in range(100000):
            os.close(os.open(self.path("big", f"f{i:06}.dat"), os.O_CREAT | os.O_WRONLY, 0o644))
        out = self.path("big.csv")
        result = subprocess.run([KARTOMA, "--catalog", self.path("big"), "--out", out, "--quiet"],
                                capture_output=True, timeout=300)
        self.assertEqual(result.returncode, 0, result.stderr)
        _, rows = read_csv(out)
        self.assertEqual(len(rows), 100001)
        self.assertEqual([r[0] for r in rows[1:4]], ["f000000.dat", "f000001.dat", "f000002.dat"])
        self.assertEqual(rows[-1][0], "f099999.dat")

    def test_a_tree_50_levels_deep(self):
        p = self.path("deep")
        for level in range(50):
            p = os.path.join(p, f"d{level}")
        os.makedirs(p)
        with open(os.path.join(p, "bottom.txt"), "w"):
            pass
        out = self.path("deep.csv")
        result = subprocess.run([KARTOMA, "--catalog", self.path("deep"), "--out", out, "--folders"],
                                capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        _, rows = read_csv(out)
        # Eight levels: d0 (in the chosen folder) to d7, which is listed but not opened.
        self.assertEqual([r[0] for r in rows[1:]], [f"d{i}" for i in range(8)])

    def test_a_disk_that_fills_leaves_nothing_half_written(self):
        os.mkdir(self.path("tree"))
        # Names that do not deflate away: both outputs grow well past the limit.
        for i in range(3000):
            noise = hashlib.sha1(str(i).encode()).hexdigest()[:16]
            with open(self.path("tree", f"some-longer-file-name-{i:05}-{noise}.txt"), "w"):
                pass
        for name in ["full.csv", "full.xlsx"]:
            out = self.path(name)
            with open(out, "wb") as f:
                f.write(b"the list from before")
            result = run_limited(["--catalog", self.path("tree"), "--out", out], 64 * 1024)
            self.assertEqual(result.returncode, 1, name)
            self.assertIn(b"File too large", result.stderr, name)
            with open(out, "rb") as f:
                self.assertEqual(f.read(), b"the list from before", name)
            leftovers = [n for n in os.listdir(self.tmp.name) if n.startswith(name) and n != name]
            self.assertEqual(leftovers, [], name)

    def test_an_unreadable_folder_is_skipped_and_counted(self):
        if os.geteuid() == 0:
            self.skipTest("root reads every folder; the fake file system covers this case")
        os.makedirs(self.path("tree", "locked"))
        with open(self.path("tree", "a.txt"), "w"):
            pass
        os.chmod(self.path("tree", "locked"), 0)
        self.addCleanup(os.chmod, self.path("tree", "locked"), 0o755)
        out = self.path("u.csv")
        result = subprocess.run([KARTOMA, "--catalog", self.path("tree"), "--out", out], capture_output=True)
        self.assertEqual(result.returncode, 0)
        self.assertIn(b"1 skipped", result.stderr)
        self.assertIn(b"skipped " + self.path("tree", "locked").encode(), result.stderr)


if __name__ == "__main__":
    unittest.main()
