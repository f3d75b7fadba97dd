"""Searching saved catalogues: four media catalogued by the program itself, one of them re-saved by a
spreadsheet application, found again through their folder."""

import csv
import io
import os
import shutil
import subprocess
import tempfile
import unittest
import zipfile

from test_cli_csv import Tree, run

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
        for args in (["--search", "x"], ["--search", "x", "--out", "y.csv", "z"], ["--path", "z"],
                     ["--search", "x" * 1025, "z"]):
            self.assertEqual(run(*args).returncode, 2, args)


if __name__ == "__main__":
    unittest.main()
