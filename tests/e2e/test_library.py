"""The catalogue library from the command line: the library folder read from the stored settings,
searches answered by the index as reading the files answers them, the index deleted and built anew,
and the entries only one medium holds."""

import csv
import io
import os
import resource
import shutil
import subprocess
import tempfile
import unittest

from test_cli_csv import KARTOMA, Tree, run


def rows_of(result):
    rows = list(csv.reader(io.StringIO(result.stdout.decode("utf-8"), newline="")))
    return sorted(tuple(r) for r in rows[1:])


class Library(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()
        home = cls.work.name
        cls.env = {**os.environ, "XDG_CACHE_HOME": os.path.join(home, "cache"),
                   "XDG_CONFIG_HOME": os.path.join(home, "config")}
        cls.library = os.path.join(home, "ライブラリ")
        os.makedirs(os.path.join(cls.library, "old"))
        os.makedirs(os.path.join(home, "config", "Kartoma"))
        with open(os.path.join(home, "config", "Kartoma", "Kartoma.ini"), "w", encoding="utf-8") as ini:
            ini.write(f"[option]\nlibrary={cls.library}\n")
        cls.index = os.path.join(home, "cache", "Kartoma", "index.sqlite")
        cls.trees = []
        # Medium A holds everything; B a copy of part of it and a name the CSV must quote; C the shared
        # file with another size.
        for label, out, files in [("A", "a.xlsx", {"写真/旅行.jpg": b"j" * 3, "docs/report.txt": b"r" * 5,
                                                  "only-a.txt": b"o", "empty.txt": b""}),
                                  ("B", "old/b.csv", {"docs/report.txt": b"r" * 5, 'docs/"say", it.txt': b"s"}),
                                  ("ディスクC", "c.csv", {"docs/report.txt": b"r" * 6})]:
            tree = Tree()
            cls.trees.append(tree)
            for name, data in files.items():
                tree.file(name, data)
            for name in files:  # one time for the same file everywhere
                os.utime(os.path.join(tree.root, name), (1700000000, 1700000000))
            result = run("--catalog", tree.root, "--out", os.path.join(cls.library, out), "--label", label,
                         "--folders", "--quiet", env=cls.env)
            assert result.returncode == 0, result.stderr.decode()

    def search(self, *args):
        return run(*args, env=self.env)

    def test_the_index_answers_as_the_files_do_and_is_built_anew_when_deleted(self):
        for pattern, extra in [("report", []), ("*.jpg", []), ("旅", []), ("docs/rep", ["--path"]), ("t", [])]:
            with self.subTest(pattern=pattern):
                direct = self.search("--search", pattern, *extra, "--no-index")
                indexed = self.search("--search", pattern, *extra)
                self.assertEqual(indexed.returncode, 0, indexed.stderr.decode())
                self.assertEqual(rows_of(indexed), rows_of(direct))
                self.assertTrue(rows_of(direct))
        self.assertTrue(os.path.exists(self.index))
        before = rows_of(self.search("--search", "report"))
        self.assertEqual(len(before), 3)
        os.remove(self.index)
        again = self.search("--search", "report")
        self.assertEqual(rows_of(again), before)
        self.assertTrue(os.path.exists(self.index))

    def test_two_processes_build_and_use_one_index_at_once(self):
        env = {**self.env, "XDG_CACHE_HOME": os.path.join(self.work.name, "shared-cache")}
        runs = [subprocess.Popen([KARTOMA, "--search", "t"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
                for _ in range(2)]
        outputs = [r.communicate(timeout=300) for r in runs]
        for r, (out, err) in zip(runs, outputs):
            self.assertEqual(r.returncode, 0, err.decode())
        found = [rows_of(subprocess.CompletedProcess([], 0, out)) for out, _ in outputs]
        self.assertEqual(found[0], found[1])
        self.assertEqual(found[0], rows_of(self.search("--search", "t", "--no-index")))

    def test_single_copies_leave_out_copies_folders_and_empty_files(self):
        for extra in [[], ["--no-index"]]:
            with self.subTest(extra=extra):
                result = self.search("--single-copies", *extra)
                self.assertEqual(result.returncode, 0, result.stderr.decode())
                found = sorted((r[0], r[2]) for r in rows_of(result))
                self.assertEqual(found, [("A", "only-a.txt"), ("A", "旅行.jpg"), ("B", '"say", it.txt'),
                                         ("ディスクC", "report.txt")])

    def test_a_missing_library_or_catalogue_fails(self):
        missing = self.search("--search", "x", "--library", os.path.join(self.work.name, "none"))
        self.assertEqual(missing.returncode, 1)
        self.assertIn(b"does not exist", missing.stderr)
        a_file = self.search("--search", "x", "--library", os.path.join(self.library, "c.csv"))
        self.assertEqual(a_file.returncode, 1)
        self.assertIn(b"is not a folder", a_file.stderr)
        broken = os.path.join(self.work.name, "broken.xlsx")
        with open(broken, "wb") as f:
            f.write(b"no workbook")
        result = self.search("--search", "report", broken, os.path.join(self.library, "c.csv"))
        self.assertEqual(result.returncode, 1)
        self.assertEqual(len(rows_of(result)), 1)
        self.assertEqual(self.search("--search", "x", "--library").returncode, 2)

    def test_a_library_named_in_another_code_page_is_found(self):
        folder = os.path.join(os.fsencode(self.work.name), "ライブラリ".encode("cp932"))
        os.makedirs(folder, exist_ok=True)
        shutil.copy(os.path.join(self.library, "c.csv"), os.path.join(folder, b"c.csv"))
        for extra in [[], ["--no-index"]]:
            result = subprocess.run([KARTOMA, "--search", "report", "--library", folder, *extra],
                                    capture_output=True, env=self.env)
            self.assertEqual(result.returncode, 0, result.stderr.decode())
            self.assertEqual(len(rows_of(result)), 1)

    def test_a_name_that_is_no_utf8_is_written_alike_with_and_without_the_index(self):
        folder = os.path.join(self.work.name, "bytes")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "u.csv"), "wb") as out:
            out.write('\ufeff"ファイル名","ディレクトリ","サイズ","日付","時間","ボリューム","TYPE"\r\n'.encode()
                      + b'"odd\xff\xe3\x81name.txt","/d\x80",1,"2024/01/02","10:00:00","U","F"\r\n')
        indexed, direct = [subprocess.run([KARTOMA, "--search", "odd", "--library", folder, *extra],
                                          capture_output=True, env=self.env) for extra in [[], ["--no-index"]]]
        self.assertEqual(indexed.stdout, direct.stdout)
        (hit,) = rows_of(indexed)  # UTF-8 throughout
        self.assertEqual(hit[1], "/d\ufffd")
        self.assertTrue(hit[2].startswith("odd\ufffd"))

    def test_a_search_and_its_index_need_no_second_thread(self):
        # A limit of processes already reached: only a user other than root is held to it.
        if os.geteuid() != 0:
            self.skipTest("needs root to run the program as another user")
        with tempfile.TemporaryDirectory() as home:
            os.chmod(home, 0o777)
            library = os.path.join(home, "library")
            shutil.copytree(self.library, library)
            # The leak checker of a sanitizer build needs a thread of its own at the end.
            asan = ":".join(filter(None, [self.env.get("ASAN_OPTIONS", ""), "detect_leaks=0"]))
            env = {**self.env, "XDG_CACHE_HOME": os.path.join(home, "cache"), "ASAN_OPTIONS": asan}

            def as_nobody():
                def drop():
                    os.setgid(65534)
                    os.setuid(65534)
                    resource.setrlimit(resource.RLIMIT_NPROC, (1, 1))
                return subprocess.run([KARTOMA, "--search", "t", "--library", library], capture_output=True,
                                      timeout=300, env=env, preexec_fn=drop)

            expected = rows_of(self.search("--search", "t", "--library", library, "--no-index"))
            for run in ("index built", "index read"):
                limited = as_nobody()
                self.assertEqual(limited.returncode, 0, f"{run}: {limited.stderr.decode()}")
                self.assertEqual(rows_of(limited), expected, run)


if __name__ == "__main__":
    unittest.main()
