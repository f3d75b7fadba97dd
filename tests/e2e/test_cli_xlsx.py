"""The command line writes workbooks in both layouts that an independent reader takes back as the tree."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest
import zipfile

import openpyxl
from openpyxl.utils.escape import unescape

from test_cli_csv import KARTOMA, Tree, find_listing, run

HEADER = ["ファイル名", "ディレクトリ", "サイズ", "日付", "時間", "ボリューム", "TYPE"]
TEMPLATE = os.path.join(os.path.dirname(KARTOMA), "Kartoma.xl_")


def rows_of(path):
    with open(path, "rb") as f:
        wb = openpyxl.load_workbook(f)
    ws = wb["Kartoma"]
    rows = []
    for row in ws.iter_rows(values_only=True):
        rows.append([unescape(v) if isinstance(v, str) else v for v in row])
    return wb, ws, rows


class WorkbookCatalogue(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tree = Tree()
        t = cls.tree
        for d in range(3):
            for i in range(45):
                t.file(f"dir {d}/sub/ファイル{i:02}.txt", b"z" * (i * 7))
            t.file(f"dir {d}/noext")
        t.file('odd "q" <&> =SUM(A1).txt')
        t.file("\x01ctrl_x0041_.txt")
        with open(t.path("big.iso"), "wb") as f:
            f.truncate(3 * 1024 ** 3)
        cls.out = tempfile.TemporaryDirectory()

    @classmethod
    def tearDownClass(cls):
        cls.tree.cleanup()
        cls.out.cleanup()

    def write(self, name, *extra):
        path = os.path.join(self.out.name, name)
        result = run("--catalog", self.tree.root, "--out", path, "--filter", "*", "--folders", *extra)
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        return path

    def expected(self):
        return find_listing(self.tree.root)

    def test_one_title_layout(self):
        path = self.write("one.xlsx", "--label", "ラベル")
        wb, ws, rows = rows_of(path)
        self.assertEqual(rows[0], HEADER)
        got = {(r[1], r[0], str(r[2]), r[3], r[4], r[6]) for r in rows[1:]}
        self.assertEqual(got, self.expected())
        self.assertEqual(len(rows) - 1, len(got))
        self.assertTrue(all(r[5] == "ラベル" for r in rows[1:]))
        self.assertTrue(all(isinstance(r[2], int) for r in rows[1:]))
        self.assertIn(3 * 1024 ** 3, [r[2] for r in rows[1:]])
        self.assertEqual(ws.oddFooter.right.text, "&P/&N")
        self.assertEqual(ws.sheet_format.defaultRowHeight, 13.5)  # rows name no height of their own
        # The template's formatting: widths and the size column's separators.
        self.assertEqual(ws.column_dimensions["B"].width, 50)
        self.assertEqual(ws["C2"].number_format, "#,##0")

    def test_all_titles_layout_pages(self):
        path = self.write("all.xlsx", "--layout", "all", "--lines", "20", "--label", "")
        wb, ws, rows = rows_of(path)
        entries = []
        for n, r in enumerate(rows):
            if n % 20 == 0:
                self.assertEqual(r, HEADER, f"row {n + 1}")
                cell = ws.cell(row=n + 1, column=1)
                self.assertTrue(cell.font.b)
                self.assertEqual(cell.font.sz, 12)
                self.assertEqual(cell.fill.fgColor.indexed, 22)
            else:
                entries.append(r)
        self.assertEqual({(r[1], r[0], str(r[2]), r[3], r[4], r[6]) for r in entries}, self.expected())
        # An empty label leaves the volume column as the template has it: empty.
        self.assertTrue(all(r[5] is None for r in entries))
        self.assertEqual(len(rows), len(entries) + (len(entries) + 18) // 19)

    def test_spreadsheet_application_opens_it_without_repair(self):
        soffice = shutil.which("soffice")
        if soffice is None:
            self.skipTest("LibreOffice is not installed")
        path = self.write("lo.xlsx")
        with tempfile.TemporaryDirectory() as d:
            subprocess.run([soffice, "--headless", f"-env:UserInstallation=file://{d}/profile", "--convert-to",
                            "csv:Text - txt - csv (StarCalc):44,34,76", "--outdir", d, path],
                           capture_output=True, timeout=300, check=True)
            with open(os.path.join(d, "lo.csv"), encoding="utf-8") as f:
                lines = f.read().splitlines()
        self.assertEqual(lines[0], ",".join(HEADER))
        self.assertEqual(len(lines), len(rows_of(path)[2]))

    def test_package_is_the_template_with_the_sheet_filled(self):
        path = self.write("parts.xlsx")
        with zipfile.ZipFile(TEMPLATE) as t, zipfile.ZipFile(path) as w:
            self.assertEqual(t.namelist(), w.namelist())
            for name in t.namelist():
                if name not in ("xl/worksheets/sheet1.xml", "xl/workbook.xml"):
                    self.assertEqual(t.read(name), w.read(name), name)
            # The workbook part only asks for the template's formulas to be recalculated on opening.
            self.assertEqual(w.read("xl/workbook.xml").replace(b'<calcPr fullCalcOnLoad="1"/>', b""),
                             t.read("xl/workbook.xml"))
            sheet = w.read("xl/worksheets/sheet1.xml").decode()
        self.assertIn('<dimension ref="A1:G', sheet)
        self.assertNotIn("<f>", sheet)


class WorkbookFailures(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        os.mkdir(self.path("tree"))
        open(self.path("tree/a.txt"), "w").close()

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def variant(self, name, change):
        """A copy of the template with each part passed through change(part, data) (None drops it)."""
        with zipfile.ZipFile(self.path(name), "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z, \
                zipfile.ZipFile(TEMPLATE) as t:
            for part in t.namelist():
                data = change(part, t.read(part))
                if data is not None:
                    z.writestr(part, data)

    def test_bad_templates_fail_and_leave_no_output(self):
        with open(TEMPLATE, "rb") as f:
            good = f.read()
        cases = {"missing.xl_": None, "empty.xl_": b"", "text.xl_": b"not a zip", "cut.xl_": good[:len(good) // 2]}
        sheet = "xl/worksheets/sheet1.xml"
        self.variant("nosheet.xl_", lambda part, data: data.replace(b'name="Kartoma"', b'name="Other"')
                     if part == "xl/workbook.xml" else data)
        self.variant("broken.xl_", lambda part, data: data[:-20] if part == sheet else data)
        # Millions of empty cells compress to almost nothing but would take long to read.
        self.variant("cells.xl_", lambda part, data: data.replace(
            b"</sheetData>", b'<row r="3">' + b"<c/>" * 5_000_000 + b"</row></sheetData>") if part == sheet else data)
        self.variant("styles.xl_", lambda part, data: data.replace(b"</cellXfs>", b'<xf numFmtId="0"/>' * 300_000
                                                                   + b"</cellXfs>") if part == "xl/styles.xml" else data)
        # Small parts that would cost memory or time out of all proportion, or read differently elsewhere.
        for name, change in [("dtd.xl_", lambda d: d.replace(b"<worksheet", b'<!DOCTYPE x [<!ENTITY e "e">]><worksheet', 1)),
                             ("nested.xl_", lambda d: d.replace(b"</sheetData>", b"</sheetData>" + b"<a>" * 300)),
                             ("comment.xl_", lambda d: d.replace(b"</sheetData>", b"</sheetData><!--" + b"x" * (3 << 20) + b"-->")),
                             ("attributes.xl_", lambda d: d.replace(b"<sheetData>", b"<sheetData><row r=\"9\"" + b"".join(
                                 b' z%d=""' % i for i in range(1100)) + b"/>"))]:
            self.variant(name, lambda part, data, change=change: change(data) if part == sheet else data)
        for name, outside in [("escape.xl_", "../outside.txt"), ("backslash.xl_", "..\\outside.txt")]:
            with zipfile.ZipFile(TEMPLATE) as t, zipfile.ZipFile(self.path(name), "w") as z:
                for part in t.namelist():
                    z.writestr(part, t.read(part))
                z.writestr(outside, b"x")
        self.variant("nostyles.xl_", lambda part, data: None if part == "xl/styles.xml" else re.sub(
            rb"<Relationship [^>]*styles[^>]*/>", b"", data))
        self.variant("hugepart.xl_", lambda part, data: data.replace(b"</workbook>", b" " * (17 << 20) + b"</workbook>")
                     if part == "xl/workbook.xml" else data)
        os.mkdir(self.path("folder.xl_"))
        for name, data in cases.items():
            if data is not None:
                with open(self.path(name), "wb") as f:
                    f.write(data)
        messages = {"missing.xl_": b"workbook not found", "empty.xl_": b"not a usable workbook",
                    "text.xl_": b"not a usable workbook", "cut.xl_": b"not a usable workbook",
                    "nosheet.xl_": b'no sheet "Kartoma"', "broken.xl_": b"not a usable workbook",
                    "cells.xl_": b"more than 2000000 cells", "styles.xl_": b"more than 262144 style entries",
                    "dtd.xl_": b"a document type declaration", "nested.xl_": b"nested more than 256 deep",
                    "comment.xl_": b"one XML token longer than 2 MB", "escape.xl_": b"a part named outside the package: ../outside.txt",
                    "backslash.xl_": b"a part named outside the package: ..\\outside.txt",
                    "attributes.xl_": b"an element with more than 1024 attributes",
                    "nostyles.xl_": b"styles: missing",
                    "hugepart.xl_": b"xl/workbook.xml is larger than 16 MB",
                    "folder.xl_": b"not a usable workbook: %s: Is a directory" % self.path("folder.xl_").encode()}
        for name, message in messages.items():
            out = self.path("out.xlsx")
            result = run("--catalog", self.path("tree"), "--out", out, "--template", self.path(name))
            self.assertEqual(result.returncode, 1, name)
            self.assertIn(message, result.stderr, name)
            self.assertFalse(os.path.exists(out), name)
        # The template is judged before the walk: a missing folder is not even looked at.
        result = run("--catalog", self.path("no such folder"), "--out", self.path("out.xlsx"),
                     "--template", self.path("nostyles.xl_"))
        self.assertIn(b"styles: missing", result.stderr)

    def test_a_prefixed_sheet_is_filled_in_its_namespace(self):
        # As code-generated workbooks write it: every element of the sheet with a prefix, and a
        # template cell without its reference.
        self.variant("prefixed.xl_", lambda part, data: re.sub(rb"<(/?)(?=[a-zA-Z])", rb"<\1x:", data).replace(
            b'xmlns="', b'xmlns:x="').replace(b"</x:sheetData>", b'<x:row r="200"><x:c s="1"/></x:row></x:sheetData>')
            if part == "xl/worksheets/sheet1.xml" else data)
        out = self.path("out.xlsx")
        result = run("--catalog", self.path("tree"), "--out", out, "--template", self.path("prefixed.xl_"))
        self.assertEqual(result.returncode, 0, result.stderr)
        _, ws, rows = rows_of(out)
        self.assertEqual([r[0] for r in rows[:2]], ["ファイル名", "a.txt"])
        self.assertEqual(ws.oddFooter.right.text, "&P/&N")
        with zipfile.ZipFile(out) as z:
            sheet = z.read("xl/worksheets/sheet1.xml")
        self.assertNotRegex(sheet, rb"<(?!x:|/x:|\?xml)")

    def test_empty_folder_writes_no_workbook(self):
        os.mkdir(self.path("empty"))
        result = run("--catalog", self.path("empty"), "--out", self.path("e.xlsx"))
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"no workbook was written", result.stderr)
        self.assertFalse(os.path.exists(self.path("e.xlsx")))

    def test_existing_output_survives_a_failure(self):
        with open(self.path("keep.xlsx"), "wb") as f:
            f.write(b"precious")
        result = run("--catalog", self.path("tree"), "--out", self.path("keep.xlsx"), "--template", self.path("none"))
        self.assertEqual(result.returncode, 1)
        with open(self.path("keep.xlsx"), "rb") as f:
            self.assertEqual(f.read(), b"precious")


if __name__ == "__main__":
    unittest.main()
