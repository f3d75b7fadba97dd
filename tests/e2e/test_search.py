"""Searching saved catalogues: four media catalogued by the program itself, one of them re-saved by a
spreadsheet application, found again through their folder."""

import csv
import io
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

from test_cli_csv import KARTOMA, Tree, run

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
import hostile_catalogues as hostile  # noqa: E402

HEADER = ["ボリューム", "ディレクトリ", "ファイル名", "サイズ", "日付", "時間", "カタログ"]


def hits_of(result):
    text = result.stdout.decode("utf-8")
    rows = list(csv.reader(io.StringIO(text, newline="")))
    return rows[0], rows[1:]


class SearchAcrossMedia(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()
        cls.books = os.path.join(cls.work.name, "catalogues")
        os.makedirs(os.path.join(cls.books, "old"))
        cls.trees = []
        cls.expected = {}
        # label, output name, extra options
        media = [("DISC-A", "a.xlsx", []),
                 ("DISC-B", "b.xlsx", ["--layout", "all", "--lines", "4"]),
                 ("写真ディスク", "old/c.csv", []),
                 ("USB \"D\"", "d.csv", ["--encoding", "utf-8"])]
        cls.resaved = shutil.which("soffice") is not None
        for n, (label, out, extra) in enumerate(media):
            tree = Tree()
            cls.trees.append(tree)
            for i in range(5):
                tree.file(f"sub/Report{n}_{i}.txt", b"r" * (i + n * 10))
                tree.file(f"other/notes{n}_{i}.md")
            tree.file(f"写真{n}.jpg", b"j" * 3)
            target = os.path.join(cls.books, out)
            if out == "b.xlsx" and cls.resaved:
                target = os.path.join(cls.work.name, "b.xlsx")
            result = run("--catalog", tree.root, "--out", target, "--label", label, "--quiet", *extra)
            assert result.returncode == 0, result.stderr.decode()
            if target != os.path.join(cls.books, out):
                profile = os.path.join(cls.work.name, "profile")
                subprocess.run(["soffice", f"-env:UserInstallation=file://{profile}", "--headless",
                                "--convert-to", "xlsx", "--outdir", cls.books, target],
                               capture_output=True, check=True, timeout=300,
                               env={**os.environ, "HOME": cls.work.name})
            for i in range(5):
                cls.expected[(label, os.path.join(tree.root, "sub"), f"Report{n}_{i}.txt")] = \
                    (str(i + n * 10), os.path.join(cls.books, out))

    @classmethod
    def tearDownClass(cls):
        for tree in cls.trees:
            tree.cleanup()
        cls.work.cleanup()

    def test_every_hit_with_its_own_label_and_nothing_else(self):
        if not self.resaved:
            self.skipTest("soffice is missing: the re-saved workbook is searched as the program wrote it")
        with zipfile.ZipFile(os.path.join(self.books, "b.xlsx")) as book:
            self.assertIn("xl/sharedStrings.xml", book.namelist())
        result = run("--search", "report*", self.books)
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        header, hits = hits_of(result)
        self.assertEqual(header, HEADER)
        got = {(h[0], h[1], h[2]): (h[3], h[6]) for h in hits}
        self.assertEqual(len(got), len(hits))
        self.assertEqual(got, self.expected)
        # Catalogue order: the folder's files sorted by path, each one's hits together.
        order = [h[6] for h in hits]
        self.assertEqual(order, sorted(order))
        self.assertTrue(all(h[4].count("/") == 2 and h[5].count(":") == 2 for h in hits))
        self.assertRegex(result.stderr.decode(), r"20 hits in 4 catalogues, \d+ rows read")

    def test_path_pattern_and_japanese_names(self):
        result = run("--search", "*/sub/*_4.txt", "--path", self.books)
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        self.assertEqual(sorted(h[2] for h in hits_of(result)[1]), [f"Report{n}_4.txt" for n in range(4)])
        result = run("--search", "写真#.JPG", self.books)
        self.assertEqual(sorted((h[0], h[2]) for h in hits_of(result)[1]),
                         sorted([("DISC-A", "写真0.jpg"), ("DISC-B", "写真1.jpg"), ("写真ディスク", "写真2.jpg"),
                                 ("USB \"D\"", "写真3.jpg")]))
        # A plain word is found anywhere in the name, typed in full width.
        result = run("--search", "ｒｅｐｏｒｔ２", self.books)
        self.assertEqual(sorted(h[2] for h in hits_of(result)[1]), [f"Report2_{i}.txt" for i in range(5)])

    def test_a_file_that_is_no_catalogue_is_named_and_the_rest_searched(self):
        stray = os.path.join(self.work.name, "stray")
        os.makedirs(stray)
        shutil.copy(os.path.join(self.books, "d.csv"), stray)
        with open(os.path.join(stray, "expenses.csv"), "w", encoding="utf-8") as f:
            f.write("date,amount\n2024/01/01,300\n")
        with open(os.path.join(stray, "broken.xlsx"), "wb") as f:
            f.write(b"PK\x03\x04 not really")
        pipe = os.path.join(self.work.name, "pipe.csv")
        os.mkfifo(pipe)  # never opened: it would block the search for good
        result = run("--search", "*", stray, os.path.join(self.work.name, "missing.csv"), pipe)
        self.assertEqual(result.returncode, 1)
        err = result.stderr.decode()
        for name in ("expenses.csv", "broken.xlsx", "missing.csv", "pipe.csv"):
            self.assertIn(name, err)
        self.assertIn("not a catalogue", err)
        self.assertEqual({h[0] for h in hits_of(result)[1]}, {"USB \"D\""})

    def test_escape_sequences_in_names_are_shown_not_obeyed_on_a_terminal(self):
        import pty
        from test_cli_csv import KARTOMA
        book = os.path.join(self.work.name, "esc.csv")
        with open(book, "w", encoding="utf-8-sig", newline="") as f:
            f.write('"ファイル名","ディレクトリ","サイズ","日付","時間","ボリューム","TYPE"\r\n'
                    '"red\x1b[31m.txt","/m",1,"2024/01/01","00:00:00","V","F"\r\n')
        self.assertIn(b"red\x1b[31m.txt", run("--search", "red*", book).stdout)  # a pipe gets the text as it is
        main, terminal = pty.openpty()
        subprocess.run([KARTOMA, "--search", "red*", book], stdout=terminal, stderr=subprocess.DEVNULL, timeout=60)
        os.close(terminal)
        shown = b""
        try:
            while chunk := os.read(main, 4096):
                shown += chunk
        except OSError:  # the terminal's other end is closed
            pass
        os.close(main)
        self.assertIn(b"red\\x1b[31m.txt", shown)
        self.assertNotIn(b"\x1b", shown)

    def test_usage(self):
        for args in (["--search", "x", "--library", "y", "z"], ["--search", "x", "--out", "y.csv", "z"], ["--path", "z"],
                     ["--search", "x", "--search", "y", "z"], ["--search", "x" * 1025, "z"]):
            self.assertEqual(run(*args).returncode, 2, args)
        # A flag right after --search is the flag, not the pattern.
        result = run("--search", "--path", "*/sub/*_4.txt", self.books)
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        self.assertEqual(len(hits_of(result)[1]), 4)


class HostileCatalogues(unittest.TestCase):
    """Small versions of catalogues made to cost time or memory (bench/search-hostile has the large
    ones): each is named with its reason beside an ordinary catalogue whose hits all come."""

    def setUp(self):
        self.work = tempfile.TemporaryDirectory()
        self.ordinary = os.path.join(self.work.name, "ordinary.csv")
        hostile.ordinary_csv(self.ordinary, 5, 20)

    def tearDown(self):
        self.work.cleanup()

    def test_each_is_named_and_the_ordinary_one_searched(self):
        KiB, MiB = 1 << 10, 1 << 20
        cases = [
            ("text.xlsx", lambda p: hostile.shared_text_bomb(p, 130 * MiB), "shared strings hold more than"),
            ("count.xlsx", lambda p: hostile.shared_count_bomb(p, 8 * MiB + 1), "shared strings"),
            ("cells.xlsx", lambda p: hostile.long_cells(p, 2, 600 * KiB), "a row holds more than"),
            ("wide.xlsx", lambda p: hostile.wide_row(p, 20000), "more than 16384 cells"),
            ("repeated.xlsx", lambda p: hostile.repeated_shared(p, 400 * KiB, 400), "repeat shared strings"),
            ("commas.csv", lambda p: hostile.csv_commas(p, 20000), "more than 16384 fields"),
            ("line.csv", lambda p: hostile.csv_long_line(p, MiB + 1), "a line longer than"),
            # A quote left open would swallow every later line into one made-up hit.
            ("quote.csv", lambda p: open(p, "w", encoding="utf-8-sig").write(
                'ファイル名,ディレクトリ\r\n"wanted-broken.txt,/d\r\nwanted1.txt,/d\r\n'), "inside a quoted field"),
        ]
        for name, make, reason in cases:
            with self.subTest(name):
                path = os.path.join(self.work.name, name)
                make(path)
                result = run("--search", "wanted*", path, self.ordinary)
                err = result.stderr.decode()
                self.assertEqual(result.returncode, 1, err)
                self.assertRegex(err, rf"catalogue {path} .*{reason}")
                self.assertEqual(len(hits_of(result)[1]), 5)
                self.assertIn("5 hits in 1 catalogues", err)
                os.remove(path)

    def test_a_catalogue_deeper_than_a_path_can_be_is_named(self):
        # Folders are walked by descriptors, but a catalogue's path past the system's limit cannot be
        # opened: it is named, never passed over without a word.
        here = os.getcwd()
        try:
            os.chdir(self.work.name)
            for _ in range(18):
                os.mkdir("d" * 250)
                os.chdir("d" * 250)
            hostile.ordinary_csv("deep.csv", 5, 0)
        finally:
            os.chdir(here)
        result = run("--search", "wanted*", self.work.name)
        self.assertEqual(result.returncode, 1, result.stderr.decode())
        self.assertIn("deep.csv", result.stderr.decode())
        self.assertEqual(len(hits_of(result)[1]), 5)  # the ordinary catalogue beside it

    def test_a_failed_write_of_the_results_is_reported(self):
        hostile.ordinary_csv(self.ordinary, 5000, 0)
        with open("/dev/full", "wb") as full:
            result = subprocess.run([KARTOMA, "--search", "wanted*", self.ordinary], stdout=full,
                                    stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(result.returncode, 1)
        self.assertIn("cannot write the results to standard output", result.stderr.decode())
        proc = subprocess.Popen([KARTOMA, "--search", "wanted*", self.ordinary], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        proc.stdout.close()  # the reader is gone before the first line
        with proc.stderr:
            err = proc.stderr.read().decode()
        self.assertEqual(proc.wait(timeout=60), 1)
        self.assertIn("cannot write the results to standard output", err)
        # A closed standard output: no descriptor the program opens takes its place and the hits.
        result = subprocess.run([KARTOMA, "--search", "wanted*", self.ordinary], stderr=subprocess.PIPE,
                                preexec_fn=lambda: os.close(1), env={**os.environ, "LC_ALL": "C.UTF-8"}, timeout=60)
        self.assertEqual(result.returncode, 1)
        self.assertIn("cannot write the results to standard output: Bad file descriptor", result.stderr.decode())

    def test_any_cell_gives_one_csv_record_per_hit(self):
        # Fields that would break a line written carelessly: a size that forges a record, line
        # breaks, quotes and commas, in a CSV catalogue and in a workbook.
        forged = '1,"INJECTED","row"\r\n"forged","line"'
        entries = [("hit\r\n\"1\".txt", "/m,\"x\"", forged), ("hit,2.txt", "/n\nl", "12"),
                   ("hit3.txt", "/o", "3.2E+9")]
        book = os.path.join(self.work.name, "book.csv")
        with open(book, "w", encoding="utf-8-sig", newline="") as f:
            writer = csv.writer(f, lineterminator="\r\n")
            writer.writerow(["ファイル名", "ディレクトリ", "サイズ", "ボリューム"])
            for name, folder, size in entries:
                writer.writerow([name, folder, size, "L,\"1\""])
        workbook = os.path.join(self.work.name, "book.xlsx")

        def cell(col, row, text):
            text = text.replace("&", "&amp;").replace("<", "&lt;").replace("\r", "_x000D_")
            return f'<c r="{col}{row}" t="inlineStr"><is><t xml:space="preserve">{text}</t></is></c>'
        rows = "".join(f'<row r="{r}">{cell("A", r, n)}{cell("B", r, d)}{cell("C", r, s)}</row>'
                       for r, (n, d, s) in enumerate(entries, start=2)).encode()
        hostile.workbook(workbook, [rows])
        result = run("--search", "hit*", book, workbook)
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        header, hits = hits_of(result)
        self.assertEqual(header, HEADER)
        self.assertTrue(all(len(h) == 7 for h in hits), hits)
        expected = [(n, d, "3200000000" if s == "3.2E+9" else s) for n, d, s in entries]
        self.assertEqual([(h[2], h[1], h[3]) for h in hits], expected * 2)
        self.assertEqual({h[0] for h in hits[:3]}, {"L,\"1\""})


if __name__ == "__main__":
    unittest.main()
