"""The command line writes CSV catalogues that independent readers take back as the tree itself."""

import csv
import io
import os
import shutil
import subprocess
import tempfile
import unittest

KARTOMA = os.environ.get("KARTOMA", "build/kartoma")
HEADER = ["ファイル名", "ディレクトリ", "サイズ", "日付", "時間", "ボリューム", "TYPE"]


def run(*args, **kwargs):
    return subprocess.run([KARTOMA, *args], capture_output=True, timeout=300, **kwargs)


def read_csv(path, encoding="cp932"):
    with open(path, "rb") as f:
        data = f.read()
    if encoding == "utf-8-sig":
        assert data.startswith(b"\xef\xbb\xbf")
    else:
        assert not data.startswith(b"\xef\xbb\xbf")
    # Every line ends in CR LF: count the line ends outside quotes.
    text = data.decode(encoding)
    rows = list(csv.reader(io.StringIO(text, newline="")))
    return data, rows


def find_listing(root, depth=8, files_only=False):
    """What find(1) sees: (dir, name, size, date, time, type) per entry, folders with size 0."""
    fmt = "%h\\0%f\\0%s\\0%TY/%Tm/%Td\\0%TH:%TM:%TS\\0%y\\0"
    out = subprocess.run(["find", root, "-mindepth", "1", "-maxdepth", str(depth), "-printf", fmt],
                         capture_output=True, check=True, env={**os.environ, "TZ": "Asia/Tokyo"}).stdout
    fields = out.split(b"\0")[:-1]
    entries = set()
    for i in range(0, len(fields), 6):
        d, name, size, date, time, kind = fields[i:i + 6]
        kind = "D" if kind == b"d" else "F"
        if files_only and kind == "D":
            continue
        entries.add((os.fsdecode(d).encode("utf-8", "surrogateescape").decode("utf-8", "replace"),
                     name.decode("utf-8", "replace"), "0" if kind == "D" else size.decode(),
                     date.decode(), time.decode().split(".")[0], kind))
    return entries


class Tree:
    """A temporary folder with helpers to fill it."""

    def __init__(self):
        self._dir = tempfile.TemporaryDirectory()
        self.root = os.path.realpath(self._dir.name)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def file(self, rel, data=b"x", mtime=None):
        p = os.path.join(os.fsencode(self.root), os.fsencode(rel) if isinstance(rel, str) else rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data)
        if mtime is not None:
            os.utime(p, (mtime, mtime))
        return p

    def folder(self, rel):
        os.makedirs(self.path(rel), exist_ok=True)

    def cleanup(self):
        self._dir.cleanup()


class CsvCatalogue(unittest.TestCase):
    def setUp(self):
        self.tree = Tree()
        self.out_dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.tree.cleanup)
        self.addCleanup(self.out_dir.cleanup)

    def out(self, name="list.csv"):
        return os.path.join(self.out_dir.name, name)

    def catalogue(self, *extra, out=None):
        out = out or self.out()
        result = run("--catalog", self.tree.root, "--out", out, "--label", "VOL", *extra)
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        return out, result

    def test_exact_bytes_of_a_small_list(self):
        # 1999-03-05 09:05:00 in Tokyo.
        self.tree.file("a.txt", b"1234" * 10, mtime=920592300)
        self.tree.file("README", b"", mtime=920592300)
        out, _ = self.catalogue()
        with open(out, "rb") as f:
            data = f.read()
        expected = ('"ファイル名","ディレクトリ","サイズ","日付","時間","ボリューム","TYPE"\r\n'
                    f'"a.txt","{self.tree.root}",40,"1999/03/05","09:05:00","VOL","F"\r\n').encode("cp932")
        # README has no dot: the default filter "*.*" leaves it out.
        self.assertEqual(data, expected)

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("mkfs.ext4"), "mounting an image needs root and mkfs.ext4")
    def test_a_mounted_medium_gives_its_label_to_every_row(self):
        mount = self.tree.path("mnt")
        os.mkdir(mount)
        for label in ["ARCHIVE_01", "家族の写真"]:
            image = self.out("disk.img")
            with open(image, "wb") as f:
                f.truncate(8 << 20)
            subprocess.run(["mkfs.ext4", "-q", "-F", "-L", label, image], check=True, capture_output=True)
            mounted = subprocess.run(["mount", "-o", "loop", image, mount], capture_output=True)
            if mounted.returncode != 0:
                self.skipTest("mounting is not permitted here: " + mounted.stderr.decode(errors="replace"))
            try:
                os.makedirs(os.path.join(mount, "photos", "2019"))
                open(os.path.join(mount, "photos", "2019", "a.jpg"), "w").close()
                result = run("--catalog", mount, "--out", self.out(), "--folders")
                self.assertEqual(result.returncode, 0, result.stderr)
                rows = read_csv(self.out())[1][1:]
                self.assertIn(["a.jpg", os.path.join(mount, "photos", "2019"), "0"], [r[:3] for r in rows])
                self.assertEqual({r[5] for r in rows}, {label})
            finally:
                subprocess.run(["umount", mount], check=True)

    def test_odd_names_read_back_as_themselves(self):
        names = [" leading blank.txt", "trailing blank .txt", 'say "hi".txt', "com,ma.txt", "line\nbreak.txt",
                 "cr\rname.txt", "100%.txt", "日本語の名前.txt", "全角　スペース.txt", "～波ダッシュ〜.txt",
                 "$(touch x).txt", "; rm -rf.txt", "<tag>&amp;.txt", "\x01ctrl.txt"]
        for n in names:
            self.tree.file(os.path.join("sub dir", n))
        out, result = self.catalogue("--filter", "*")
        _, rows = read_csv(out)
        self.assertEqual(rows[0], HEADER)
        got = sorted(r[0] for r in rows[1:])
        # U+301C and U+FF5E both become 0x8160, which reads back as U+FF5E.
        want = sorted(n.replace("〜", "～") for n in names)
        self.assertEqual(got, want)
        for r in rows[1:]:
            self.assertEqual(r[1], self.tree.path("sub dir"))
            self.assertEqual(r[5], "VOL")
            self.assertEqual(r[6], "F")
        self.assertFalse(os.path.exists(self.tree.path("sub dir", "x")))
        self.assertNotIn(b"?", result.stderr)

    def test_names_in_cp932_are_read_as_such_and_other_bytes_are_counted(self):
        self.tree.file(b"bad\xff\xfename.txt")
        self.tree.file("café.txt")
        self.tree.file("emoji😀.txt")
        self.tree.file("lost\ufffd.txt")  # a replacement character that is the name's own
        # As old Japanese media carry them: "ファイル.txt" in a folder "日本", in CP932 bytes.
        self.tree.file(b"\x93\xfa\x96{/\x83t\x83@\x83C\x83\x8b.txt")
        out, result = self.catalogue()
        with open(out, "rb") as f:
            self.assertIn(b'"\x83t\x83@\x83C\x83\x8b.txt","' + self.tree.root.encode() + b'/\x93\xfa\x96{"', f.read())
        _, rows = read_csv(out)
        self.assertEqual(sorted(r[0] for r in rows[1:]),
                         ["bad??name.txt", "caf?.txt", "emoji?.txt", "lost?.txt", "ファイル.txt"])
        self.assertIn(b"3 characters have no CP932 form", result.stderr)
        self.assertIn(b"1 names are neither UTF-8 nor CP932", result.stderr)
        # A folder so named counts once, whether it is listed as an entry too or not.
        self.tree.file(b"dir\xfe/in.txt")
        for extra in [(), ("--folders",)]:
            _, result = self.catalogue(*extra, out=self.out("d.csv"))
            self.assertIn(b"2 names are neither UTF-8 nor CP932", result.stderr, extra)

        out8, result = self.catalogue("--encoding", "utf-8", out=self.out("u.csv"))
        _, rows = read_csv(out8, "utf-8-sig")
        self.assertEqual(sorted((r[0], r[1]) for r in rows[1:]),
                         [("bad\ufffd\ufffdname.txt", self.tree.root), ("café.txt", self.tree.root),
                          ("emoji😀.txt", self.tree.root), ("in.txt", self.tree.root + "/dir\ufffd"),
                          ("lost\ufffd.txt", self.tree.root), ("ファイル.txt", self.tree.root + "/日本")])
        self.assertIn(b"2 names are neither UTF-8 nor CP932", result.stderr)

    def test_a_folder_and_an_output_named_with_bytes_that_are_not_utf8_keep_them(self):
        from test_cli_xlsx import rows_of
        # (folder name, its text, its bytes in a CP932 CSV, counted as neither UTF-8 nor CP932)
        cases = [(b"caf\xe9", "caf\ufffd", b"caf?", True),
                 (b"\x93\xfa\x96{", "日本", b"\x93\xfa\x96{", False),
                 (b"bad\xff\xfe", "bad\ufffd\ufffd", b"bad??", True)]
        root, out_dir = os.fsencode(self.tree.root), os.fsencode(self.out_dir.name)
        for name, text, cp932, counted in cases:
            self.tree.file(name + b"/sub/a.txt")
            for suffix, encoding in [(b".csv", "cp932"), (b".csv", "utf-8"), (b".xlsx", None)]:
                with self.subTest(name=name, suffix=suffix, encoding=encoding):
                    out = out_dir + b"/" + name + b"-" + (encoding or "book").encode() + suffix
                    extra = ["--encoding", encoding] if encoding else []
                    result = run("--catalog", root + b"/" + name, "--out", out, *extra)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    self.assertTrue(os.path.isfile(out), os.listdir(out_dir))
                    self.assertEqual(b"1 names are neither UTF-8 nor CP932" in result.stderr, counted)
                    # Bytes that are no text are told once, not again as characters CP932 lacks.
                    self.assertNotIn(b"no CP932 form", result.stderr)
                    folder = f"{self.tree.root}/{text}/sub"
                    if encoding == "cp932":
                        with open(out, "rb") as f:
                            data = f.read()
                        self.assertIn(b'"a.txt","' + root + b"/" + cp932 + b'/sub",', data)
                        # The label falls back to the folder's path, shown as text.
                        self.assertTrue(data.endswith(b',"' + root + b"/" + cp932 + b'","F"\r\n'), data)
                    elif encoding == "utf-8":
                        _, rows = read_csv(out, "utf-8-sig")
                        self.assertEqual([(r[0], r[1]) for r in rows[1:]], [("a.txt", folder)])
                    else:
                        self.assertEqual([(r[0], r[1]) for r in rows_of(out)[2][1:]], [("a.txt", folder)])
                    # The summary names the output as text: no escaped byte leaks.
                    self.assertIn(b"-> " + out_dir + b"/" + text.encode() + b"-", result.stderr)
        self.assertEqual(len(os.listdir(out_dir)), 9)

    def test_the_list_is_what_find_sees(self):
        # A mixed tree eleven levels deep: the default depth lists eight of them.
        t = self.tree
        p = ""
        for level in range(11):
            p = os.path.join(p, f"level{level} 階層")
            for i in range(3):
                t.file(os.path.join(p, f"file{i}.dat"), b"z" * (level * 100 + i))
            t.file(os.path.join(p, f"NoDot{level}"))
        t.file("top.TXT", mtime=1593561600)
        os.symlink("nowhere", t.path("dangling"))
        os.symlink(".", t.path("loop"))
        os.symlink("/", t.path("to-root"))
        with open(t.path("sparse.bin"), "wb") as f:
            f.truncate(5 * 1024 ** 3)

        out, result = self.catalogue("--filter", "*", "--folders")
        _, rows = read_csv(out)
        got = {(r[1], r[0], r[2], r[3], r[4], r[6]) for r in rows[1:]}
        self.assertEqual(len(got), len(rows) - 1)
        want = find_listing(t.root)
        # find reports a link's own size, as the catalogue does.
        self.assertEqual(got, want)
        self.assertIn((t.root, "sparse.bin", str(5 * 1024 ** 3)), {g[:3] for g in got})
        self.assertTrue(any(r[1].count("level") == 7 for r in rows[1:]))
        self.assertFalse(any(r[1].count("level") == 8 for r in rows[1:]))
        self.assertIn(f"{len(rows) - 1} entries, 0 skipped".encode(), result.stderr)

        out3, _ = self.catalogue("--filter", "*", "--depth", "3", out=self.out("d3.csv"))
        _, rows3 = read_csv(out3)
        self.assertEqual({(r[1], r[0], r[2], r[3], r[4], r[6]) for r in rows3[1:]},
                         find_listing(t.root, depth=3, files_only=True))

    def test_entries_of_a_folder_come_before_its_subfolders(self):
        for rel in ["b/inner.txt", "a.txt", "B.txt", "c/deep/x.txt", "c.txt"]:
            self.tree.file(rel)
        out, _ = self.catalogue("--folders")
        _, rows = read_csv(out)
        root = self.tree.root
        self.assertEqual([(r[1][len(root):], r[0]) for r in rows[1:]],
                         [("", "a.txt"), ("", "b"), ("", "B.txt"), ("", "c"), ("", "c.txt"),
                          ("/b", "inner.txt"), ("/c", "deep"), ("/c/deep", "x.txt")])

    def test_many_subfolders(self):
        for i in range(40000):
            os.mkdir(self.tree.path(f"d{i:05}"))
        self.tree.file("d39999/last.txt")
        out, _ = self.catalogue("--folders", "--quiet")
        _, rows = read_csv(out)
        self.assertEqual(len(rows), 1 + 40001)
        self.assertEqual(rows[-1][:2], ["last.txt", self.tree.path("d39999")])

    def test_volume_label_defaults_to_the_volume_or_the_folder_path(self):
        self.tree.file("a.txt")
        out = self.out()
        result = run("--catalog", self.tree.root + "/", "--out", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        _, rows = read_csv(out)
        label = subprocess.run(["findmnt", "-n", "-o", "LABEL", "--target", self.tree.root],
                               capture_output=True, text=True).stdout.strip()
        self.assertEqual(rows[1][1], self.tree.root)
        self.assertIn(rows[1][5], {label or self.tree.root, self.tree.root})


class BadInput(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def test_bad_folders_fail_and_create_nothing(self):
        open(self.path("plain.txt"), "w").close()
        with open(self.path("keep.csv"), "wb") as f:
            f.write(b"precious")
        for folder, message in [(self.path("missing"), b"folder not found"),
                                (self.path("plain.txt"), b"not a folder")]:
            result = run("--catalog", folder, "--out", self.path("new.csv"))
            self.assertEqual(result.returncode, 1)
            self.assertIn(message, result.stderr)
            self.assertIn(folder.encode(), result.stderr)
            self.assertFalse(os.path.exists(self.path("new.csv")))
            result = run("--catalog", folder, "--out", self.path("keep.csv"))
            self.assertEqual(result.returncode, 1)
            with open(self.path("keep.csv"), "rb") as f:
                self.assertEqual(f.read(), b"precious")

    def test_dot_dot_after_a_link_leads_where_the_system_says(self):
        os.makedirs(self.path("elsewhere/target"))
        open(self.path("elsewhere/beside-target.txt"), "w").close()
        os.makedirs(self.path("sp"))
        open(self.path("sp/in-sp.txt"), "w").close()
        os.symlink(self.path("elsewhere/target"), self.path("sp/lnk"))
        os.symlink(self.path("nowhere"), self.path("sp/dang"))
        os.symlink(self.path("sp/in-sp.txt"), self.path("sp/flnk"))
        for folder, expected in [("sp/lnk/..", [("beside-target.txt", os.path.realpath(self.path("elsewhere")))]),
                                 ("sp/dang/..", b"folder not found: %s: No such file or directory"),
                                 ("sp/flnk/..", b"not a folder: %s: Not a directory")]:
            result = run("--catalog", self.path(folder), "--out", self.path("list.csv"), "--encoding", "utf-8")
            if isinstance(expected, bytes):
                self.assertEqual(result.returncode, 1, folder)
                self.assertIn(expected % self.path(folder).encode(), result.stderr)
                self.assertFalse(os.path.exists(self.path("list.csv")), folder)
                continue
            self.assertEqual(result.returncode, 0, result.stderr)
            _, rows = read_csv(self.path("list.csv"), "utf-8-sig")
            self.assertEqual([(r[0], r[1]) for r in rows[1:]], expected)
            os.unlink(self.path("list.csv"))

    def test_a_relative_folder_is_the_working_folder_or_the_systems_reason_why_not(self):
        # The working folder was removed: its name is gone, and nothing else stands in for it.
        os.mkdir(self.path("gone"))
        result = subprocess.run(["sh", "-c", 'cd "$1" && rmdir "$1" && exec "$2" --catalog . --out "$3"', "sh",
                                 self.path("gone"), os.path.abspath(KARTOMA), self.path("list.csv")],
                                capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(b"folder not found: .: No such file or directory", result.stderr)
        self.assertEqual(os.listdir(self.tmp.name), [])
        # The working folder's path is longer than the system takes at once: it is still walked.
        kartoma, home = os.path.abspath(KARTOMA), os.getcwd()
        self.addCleanup(os.chdir, home)
        os.chdir(self.tmp.name)
        for _ in range(25):
            os.mkdir("d" * 200)
            os.chdir("d" * 200)
        open("deep.txt", "w").close()
        deep = os.getcwd()
        self.assertGreater(len(deep), 4096)
        result = subprocess.run([kartoma, "--catalog", ".", "--out", self.path("list.csv"), "--encoding", "utf-8"],
                                capture_output=True, timeout=60)
        os.chdir(home)
        self.assertEqual(result.returncode, 0, result.stderr)
        _, rows = read_csv(self.path("list.csv"), "utf-8-sig")
        self.assertEqual([(r[0], r[1]) for r in rows[1:]], [("deep.txt", deep)])

    def test_control_characters_in_names_are_escaped_on_standard_error(self):
        # A folder not found, and a stray argument in a usage error.
        for args, status in [(["--catalog", self.path("\x1b[31mred\x07"), "--out", self.path("list.csv")], 1),
                             (["--catalog", self.tmp.name, "--out", self.path("list.csv"), "\x1b[31mred\x07"], 2)]:
            result = run(*args)
            self.assertEqual(result.returncode, status)
            self.assertNotIn(b"\x1b", result.stderr)
            self.assertNotIn(b"\x07", result.stderr)
            self.assertIn(b"\\x1b[31mred\\x07", result.stderr)

    def test_unwritable_output_fails_and_leaves_nothing(self):
        os.mkdir(self.path("tree"))
        open(self.path("tree/a.txt"), "w").close()
        target = self.path("no/such/folder/list.csv")
        result = run("--catalog", self.path("tree"), "--out", target)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"cannot create output file", result.stderr)
        self.assertEqual(os.listdir(self.tmp.name), ["tree"])

    def test_usage_errors_exit_2_with_the_usage(self):
        os.mkdir(self.path("tree"))
        for args in [["--depth", "x"], ["--depth", "0"], ["--depth", "9"], ["--bogus"], ["--encoding", "latin1"],
                     ["--lines", "1"], ["--layout", "both"], ["extra"], ["--catalog", self.path("tree")],
                     ["--out", self.path("o.xlsx")], ["--depth", "2", "--depth", "3"], ["--label", "A", "--label", "B"],
                     ["--filter", "*", "--filter", "*.txt"], ["--encoding", "utf-8", "--encoding", "cp932"]]:
            result = run("--catalog", self.path("tree"), "--out", self.path("o.csv"), *args)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn(b"Usage: kartoma", result.stderr)
            if args[0] in ("--catalog", "--out") or args.count(args[0]) == 2:
                self.assertIn(b"--%s is given more than once; it takes one value" % args[0][2:].encode(),
                              result.stderr, args)
        self.assertEqual(run("--catalog", self.path("tree")).returncode, 2)
        self.assertEqual(run("--catalog", self.path("tree"), "--out", self.path("o.txt")).returncode, 2)
        self.assertFalse(os.path.exists(self.path("o.csv")))

    def test_without_a_display_the_window_points_to_the_command_line(self):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        result = subprocess.run([KARTOMA], capture_output=True, timeout=60, env=env)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"no display", result.stderr)
        self.assertIn(b"--catalog DIR --out FILE", result.stderr)
        # A display that cannot be reached ends the program with the reason, not an abort.
        for unreachable in [{"DISPLAY": ":77"}, {"QT_QPA_PLATFORM": "bogus"}]:
            result = subprocess.run([KARTOMA], capture_output=True, timeout=60, env={**env, **unreachable})
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertIn(b"the window cannot be opened", result.stderr)

    def test_help_and_version(self):
        result = run("--help")
        self.assertEqual(result.returncode, 0)
        self.assertIn(b"--catalog DIR --out FILE", result.stdout)
        result = run("--version")
        self.assertEqual((result.returncode, result.stdout), (0, b"kartoma 1.0.0\n"))
        # An answer that cannot be written is a failure, with the reason.
        for option in ["--help", "--version"]:
            with open("/dev/full", "wb") as full:
                result = subprocess.run([KARTOMA, option], stdout=full, stderr=subprocess.PIPE, timeout=60)
            self.assertEqual(result.returncode, 1, option)
            self.assertIn(b"cannot write to standard output", result.stderr)



if __name__ == "__main__":
    unittest.main()
