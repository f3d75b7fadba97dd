"""Workbooks read back the same in three spreadsheet readers this project did not write: openpyxl,
LibreOffice (exporting CSV) and Gnumeric's ssconvert, in both layouts and from an edited template."""

import csv
import os
import shutil
import subprocess
import tempfile
import unittest
import zipfile

import openpyxl
from openpyxl.utils.escape import unescape

from test_cli_csv import Tree, run
from test_print import user_template

# LibreOffice's CSV export: comma, double quote, UTF-8, numbers as they are rather than as shown.
LIBREOFFICE_CSV = "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false"
LINES = 20
LONG_ROWS = 9000


def csv_rows(path, escaped=False):
    """`escaped`: the reader leaves the package's _xHHHH_ escapes in texts, as openpyxl does."""
    with open(path, encoding="utf-8", newline="") as f:
        return [[unescape(v) if escaped else v for v in row] for row in csv.reader(f)]


def sheet_size(path):
    with zipfile.ZipFile(path) as z:
        return z.getinfo("xl/worksheets/sheet1.xml").file_size


class ThreeReaders(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        missing = [tool for tool in ("soffice", "ssconvert") if shutil.which(tool) is None]
        if missing:
            raise unittest.SkipTest(f"needs {' and '.join(missing)} (scripts/setup --test installs them)")
        cls.tree = Tree()
        for i in range(45):
            cls.tree.file(f"dir {i % 3}/ファイル{i:02}.txt", b"z" * i)
        for name in ('odd "q" <&>, =SUM(A1).txt', " lead and trail ", "x_x0041_y.txt", "tab\there.txt"):
            cls.tree.file(name)
        with open(cls.tree.path("big.iso"), "wb") as f:
            f.truncate(3 * 1024 ** 3)
        cls.dir = tempfile.TemporaryDirectory()
        d = cls.dir.name
        user_template(os.path.join(d, "user.xl_"))
        # A sheet of several mebibytes, which is deflated in pieces joined into one stream.
        cls.long_tree = Tree()
        for i in range(LONG_ROWS):
            cls.long_tree.file(f"長いフォルダの名前 {i // 40:03}/ファイル名前 {i:05} {'x' * (i % 50)}.txt")
        cls.jobs = {"one": ["--layout", "one"],
                    "all": ["--layout", "all", "--lines", str(LINES)],
                    "user": ["--layout", "all", "--lines", str(LINES), "--template", os.path.join(d, "user.xl_")],
                    "long": ["--layout", "one"]}
        for name, extra in cls.jobs.items():
            root = cls.long_tree.root if name == "long" else cls.tree.root
            result = run("--catalog", root, "--out", os.path.join(d, name + ".xlsx"), "--filter", "*",
                         "--folders", "--label", "ラベル", "--quiet", *extra)
            assert result.returncode == 0, result.stderr.decode()
        books = [os.path.join(d, name + ".xlsx") for name in cls.jobs]
        subprocess.run(["soffice", "--headless", f"-env:UserInstallation=file://{d}/profile", "--convert-to",
                        LIBREOFFICE_CSV, "--outdir", os.path.join(d, "lo"), *books],
                       capture_output=True, timeout=600, check=True)
        for name in cls.jobs:
            subprocess.run(["ssconvert", os.path.join(d, name + ".xlsx"), os.path.join(d, name + ".gnumeric.csv")],
                           capture_output=True, timeout=300, check=True)

    @classmethod
    def tearDownClass(cls):
        cls.tree.cleanup()
        cls.long_tree.cleanup()
        cls.dir.cleanup()

    def test_every_reader_reads_the_same_rows_breaks_and_footer(self):
        for name in self.jobs:
            with self.subTest(job=name):
                path = os.path.join(self.dir.name, name + ".xlsx")
                with open(path, "rb") as f:
                    ws = openpyxl.load_workbook(f)["Kartoma"]
                rows = [["" if v is None else str(unescape(v) if isinstance(v, str) else v) for v in row]
                        for row in ws.iter_rows(values_only=True)]
                libreoffice = csv_rows(os.path.join(self.dir.name, "lo", name + ".csv"))
                gnumeric = csv_rows(os.path.join(self.dir.name, name + ".gnumeric.csv"), escaped=True)
                self.assertEqual(libreoffice, rows)
                self.assertEqual(gnumeric, rows)
                if name == "long":
                    self.assertEqual(len(rows), 1 + LONG_ROWS + LONG_ROWS // 40)
                    self.assertGreater(sheet_size(path), 3 * 1024 ** 2)
                    continue
                self.assertEqual(len(rows), 54 if name == "one" else 56)
                self.assertIn(str(3 * 1024 ** 3), [r[2] for r in rows])
                self.assertIn('odd "q" <&>, =SUM(A1).txt', [r[0] for r in rows])
                # Every row is as high as the sheet's default, written or not.
                self.assertEqual(ws.sheet_format.defaultRowHeight, 13.5)
                self.assertTrue(all(ws.row_dimensions[r].height in (None, 13.5) for r in range(1, len(rows) + 1)))
                if name == "one":
                    self.assertEqual(ws.oddFooter.right.text, "&P/&N")
                    self.assertEqual(ws.row_breaks.brk, [])
                else:
                    self.assertEqual([b.id for b in ws.row_breaks.brk], [LINES, 2 * LINES])
                    self.assertTrue(all(rows[b][0] == "ファイル名" for b in (0, LINES, 2 * LINES)))
                self.assertEqual(ws.page_setup.paperSize, 1 if name == "user" else 9)


if __name__ == "__main__":
    unittest.main()
