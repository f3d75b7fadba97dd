"""One policy for every output file, CSV and workbook alike: what is refused, what is written through,
and that nothing is left behind when the program is stopped by a signal."""

import os
import resource
import shutil
import signal
import stat
import subprocess
import tempfile
import time
import unittest

from test_cli_csv import KARTOMA

FORMATS = ["list.csv", "list.xlsx"]
NOBODY = 65534


def looks_written(path):
    with open(path, "rb") as f:
        head = f.read(5)
    return head.startswith(b"PK\x03\x04") if path.endswith(".xlsx") else head == b"\"\x83t\x83@"


class OutputPolicy(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        os.chmod(self.tmp.name, 0o777)
        os.mkdir(self.path("tree"))
        open(self.path("tree", "a.txt"), "w").close()

    def path(self, *parts):
        return os.path.join(self.tmp.name, *parts)

    def run_as_user(self, out, folder="tree"):
        """Runs a catalogue as an unprivileged user: as nobody when the suite runs as root."""
        argv = [KARTOMA, "--catalog", self.path(folder), "--out", out]
        if os.geteuid() == 0:
            argv = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups", *argv]
        return subprocess.run(argv, capture_output=True, timeout=60)

    def leftovers(self):
        return [n for n in os.listdir(self.tmp.name) if n.startswith(".kartoma-")]

    def writing(self, pid):
        """Whether the program has the new version open (a file without a name shows as deleted)."""
        try:
            links = [os.readlink(f"/proc/{pid}/fd/{fd}") for fd in os.listdir(f"/proc/{pid}/fd")]
        except OSError:  # gone, or a descriptor closed while listed
            return bool(self.leftovers())
        return bool(self.leftovers()) or any(
            link.startswith(self.tmp.name + "/") and link.endswith(" (deleted)") for link in links)

    def test_protected_files_fifos_and_devices_are_refused_and_kept(self):
        os.mkfifo(self.path("fifo"))
        with open(self.path("protected"), "wb") as f:
            f.write(b"precious")
        os.chmod(self.path("protected"), 0o444)
        os.mkdir(self.path("locked"), 0o555)
        # A folder that takes no new file is refused before the walk: the missing DIR is never reached.
        cases = [("fifo", b"not a regular file"), ("/dev/null", b"not a regular file"),
                 ("protected", b"Permission denied"), ("locked/new", b"Permission denied")]
        for name in FORMATS:
            for target, detail in cases:
                out = self.path(target.replace("/", "-")) + "." + name.split(".")[1]
                os.symlink(self.path(target) if not target.startswith("/") else target, out)
                result = self.run_as_user(out, folder="missing")
                self.assertEqual(result.returncode, 1, (name, target, result.stderr))
                self.assertIn(b"cannot create output file", result.stderr, (name, target))
                self.assertIn(detail, result.stderr, (name, target))
                os.unlink(out)
        self.assertEqual(os.listdir(self.path("locked")), [])
        self.assertTrue(stat.S_ISFIFO(os.stat(self.path("fifo")).st_mode))
        with open(self.path("protected"), "rb") as f:
            self.assertEqual(f.read(), b"precious")
        self.assertEqual(self.leftovers(), [])

    def test_a_link_is_written_through_to_its_target_which_keeps_its_owner_and_mode(self):
        os.mkdir(self.path("real"))
        owner = NOBODY if os.geteuid() == 0 else os.geteuid()
        for name in FORMATS:
            with open(self.path("real", name), "wb") as f:
                f.write(b"old")
            os.chown(self.path("real", name), owner, owner if os.geteuid() == 0 else -1)
            os.chmod(self.path("real", name), 0o640)
            os.symlink(os.path.join("real", name), self.path(name))
            result = subprocess.run([KARTOMA, "--catalog", self.path("tree"), "--out", self.path(name)],
                                    capture_output=True, timeout=60)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertTrue(os.path.islink(self.path(name)), name)
            self.assertTrue(looks_written(self.path("real", name)), name)
            self.assertEqual(stat.S_IMODE(os.stat(self.path("real", name)).st_mode), 0o640, name)
            self.assertEqual(os.stat(self.path("real", name)).st_uid, owner, name)
        self.assertEqual(self.leftovers(), [])

    def test_the_new_version_is_named_without_privileges_and_where_no_unnamed_file_can_be(self):
        for name in FORMATS:
            result = self.run_as_user(self.path(name))
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertTrue(looks_written(self.path(name)), name)
        if os.geteuid() != 0 or not shutil.which("mkfs.vfat"):
            self.skipTest("mounting a FAT image needs root and mkfs.vfat")
        # FAT keeps no file without a name: the private folder serves there.
        image, mount = self.path("fat.img"), self.path("fat")
        with open(image, "wb") as f:
            f.truncate(4 << 20)
        subprocess.run(["mkfs.vfat", image], check=True, capture_output=True)
        os.mkdir(mount)
        mounted = subprocess.run(["mount", "-o", "loop", image, mount], capture_output=True)
        if mounted.returncode != 0:
            self.skipTest("mounting is not permitted here: " + mounted.stderr.decode(errors="replace"))
        try:
            for name in FORMATS:
                result = subprocess.run([KARTOMA, "--catalog", self.path("tree"), "--out", os.path.join(mount, name)],
                                        capture_output=True, timeout=60)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertTrue(looks_written(os.path.join(mount, name)), name)
            self.assertEqual(sorted(os.listdir(mount)), FORMATS)
        finally:
            subprocess.run(["umount", mount], check=True)

    @unittest.skipUnless(os.geteuid() == 0, "only root can give a link to another user")
    def test_a_link_another_user_planted_in_a_shared_folder_is_not_followed(self):
        os.mkdir(self.path("shared"))
        os.chmod(self.path("shared"), 0o1777)
        for name in FORMATS:
            victim = self.path("victim-" + name)
            with open(victim, "wb") as f:
                f.write(b"precious")
            for link_owner, refused in [(NOBODY, True), (0, False)]:
                out = self.path("shared", name)
                os.symlink(victim, out)
                os.lchown(out, link_owner, link_owner)
                result = subprocess.run([KARTOMA, "--catalog", self.path("tree"), "--out", out],
                                        capture_output=True, timeout=60)
                self.assertEqual(result.returncode, 1 if refused else 0, (name, link_owner, result.stderr))
                if refused:
                    self.assertIn(b"refusing to follow a link owned by another user in a shared folder",
                                  result.stderr)
                    with open(victim, "rb") as f:
                        self.assertEqual(f.read(), b"precious")
                else:
                    self.assertTrue(looks_written(victim), name)
                os.unlink(out)

    def test_a_signal_or_a_crash_while_writing_leaves_the_old_file_and_nothing_else(self):
        for i in range(40000):
            os.close(os.open(self.path("tree", f"file-with-a-longer-name-{i:05}.txt"), os.O_CREAT, 0o644))
        # A build with the address sanitizer would report a SEGV as its own error instead of dying of it.
        crash_env = {**os.environ, "ASAN_OPTIONS": ":".join(filter(None, [os.environ.get("ASAN_OPTIONS"),
                                                                          "handle_segv=0"]))}
        # Signals the program catches, and those it cannot (a kill) or that mean it crashed.
        for name, sig in [("list.csv", signal.SIGINT), ("list.xlsx", signal.SIGTERM), ("list.xlsx", signal.SIGHUP),
                          ("list.csv", signal.SIGUSR1), ("list.csv", signal.SIGKILL), ("list.csv", signal.SIGSEGV),
                          ("list.csv", signal.SIGABRT), ("list.xlsx", signal.SIGKILL), ("list.xlsx", signal.SIGSEGV),
                          ("list.xlsx", signal.SIGABRT)]:
            with open(self.path(name), "wb") as f:
                f.write(b"old")
            before = sorted(os.listdir(self.tmp.name))
            proc = subprocess.Popen([KARTOMA, "--catalog", self.path("tree"), "--out", self.path(name), "--quiet"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=crash_env,
                                    preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0)))
            deadline = time.monotonic() + 60
            while not self.writing(proc.pid) and proc.poll() is None and time.monotonic() < deadline:
                time.sleep(0.001)
            caught = self.writing(proc.pid)
            proc.send_signal(sig)
            self.assertEqual(proc.wait(timeout=60), -sig, (name, sig))
            self.assertTrue(caught, "the write ended before the signal could be sent")
            self.assertEqual(sorted(os.listdir(self.tmp.name)), before, (name, sig))
            with open(self.path(name), "rb") as f:
                self.assertEqual(f.read(), b"old", (name, sig))


if __name__ == "__main__":
    unittest.main()
