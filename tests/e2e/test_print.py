"""Workbooks printed through a spreadsheet application: the printed pages are the list's pages.

Every workbook is converted to PDF in one LibreOffice run (its start is slow), then each printed
page is read back with pdftotext. The run sees the system's fonts as the installed package leaves
them: with the alias it ships for the template's font."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest
import zipfile

from test_cli_csv import Tree, run
from test_cli_xlsx import TEMPLATE

ENTRIES = 141  # at 51, 60 and 69 lines a page: three pages, the last one partly filled
NAME = re.compile(r"\bf(\d{3})\.txt\b")
FOOTER = re.compile(r"^\s*(\d+)/(\d+)\s*$")
LETTER_LANDSCAPE = "792 x 612 pts (letter)"
FONT_ALIAS = os.path.join(os.path.dirname(__file__), "..", "..", "resources", "package",
                          "65-kartoma-template-font.conf")
USER_PAGE_SETUP = '<pageSetup paperSize="1" orientation="landscape" fitToWidth="1" fitToHeight="0"/>'


def is_title(line):
    return "ファイル名" in line and "ディレクトリ" in line


def user_template(path):
    """The default template as a user might edit it: US letter, landscape, row 1 repeated on every page."""
    with zipfile.ZipFile(TEMPLATE) as t, zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name in t.namelist():
            data = t.read(name)
            if name == "xl/worksheets/sheet1.xml":
                data = re.sub(rb"<pageSetup [^>]*/>", USER_PAGE_SETUP.encode(), data)
            elif name == "xl/workbook.xml":
                data = data.replace(b"</sheets>", b'</sheets><definedNames><definedName name="_xlnm.Print_Titles" '
                                                  b'localSheetId="0">Kartoma!$1:$1</definedName></definedNames>')
            z.writestr(name, data)


def fonts_with_alias(d):
    """The system's fontconfig set-up with the package's alias among its rules, in the place the package
    links it; the environment that makes fontconfig read it."""
    conf_d = os.path.join(d, "fonts", "conf.d")
    os.makedirs(conf_d)
    for name in os.listdir("/etc/fonts/conf.d"):
        os.symlink(os.path.join("/etc/fonts/conf.d", name), os.path.join(conf_d, name))
    os.symlink(os.path.abspath(FONT_ALIAS), os.path.join(conf_d, os.path.basename(FONT_ALIAS)))
    shutil.copy("/etc/fonts/fonts.conf", os.path.join(d, "fonts"))
    return {"FONTCONFIG_PATH": os.path.join(d, "fonts"), "FONTCONFIG_FILE": os.path.join(d, "fonts", "fonts.conf")}


def font_families(pdf):
    """The font families a PDF uses: pdffonts' names without the subset tag and the style."""
    lines = subprocess.run(["pdffonts", pdf], capture_output=True, check=True, text=True).stdout.splitlines()[2:]
    return {re.sub(r"^[A-Z]{6}\+", "", line.split()[0]).split("-")[0] for line in lines}


class PrintedPages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        missing = [tool for tool in ("soffice", "pdftotext", "pdfinfo", "pdffonts") if shutil.which(tool) is None]
        if missing:
            raise unittest.SkipTest(f"needs {' and '.join(missing)} (scripts/setup --test installs them)")
        cls.tree = Tree()
        for i in range(ENTRIES):
            cls.tree.file(f"f{i:03}.txt")
        cls.dir = tempfile.TemporaryDirectory()
        d = cls.dir.name
        user_template(os.path.join(d, "user.xl_"))
        cls.jobs = {"all51": ["--layout", "all", "--lines", "51"],
                    "all60": ["--layout", "all"],
                    "all69": ["--layout", "all", "--lines", "69"],
                    "one": ["--layout", "one"],
                    "user": ["--layout", "one", "--template", os.path.join(d, "user.xl_")]}
        for name, extra in cls.jobs.items():
            result = run("--catalog", cls.tree.root, "--out", os.path.join(d, name + ".xlsx"), "--label", "",
                         "--quiet", *extra)
            assert result.returncode == 0, result.stderr.decode()
        books = [os.path.join(d, name + ".xlsx") for name in cls.jobs]
        subprocess.run(["soffice", "--headless", f"-env:UserInstallation=file://{d}/profile", "--convert-to", "pdf",
                        "--outdir", d, *books], capture_output=True, timeout=600, check=True,
                       env={**os.environ, **fonts_with_alias(d)})

    @classmethod
    def tearDownClass(cls):
        cls.tree.cleanup()
        cls.dir.cleanup()

    def pdf(self, name):
        return os.path.join(self.dir.name, name + ".pdf")

    def pages(self, name):
        """The printed pages of a workbook, each as its non-empty lines."""
        text = subprocess.run(["pdftotext", "-layout", self.pdf(name), "-"], capture_output=True, check=True,
                              text=True).stdout
        pages = [[line for line in page.splitlines() if line.strip()] for page in text.split("\f")]
        while pages and not pages[-1]:
            pages.pop()
        return pages

    def paper(self, name):
        info = subprocess.run(["pdfinfo", self.pdf(name)], capture_output=True, check=True, text=True).stdout
        return re.search(r"Page size:\s*(.*)", info).group(1).strip()

    def entries_of(self, page):
        return [int(m.group(1)) for line in page for m in NAME.finditer(line)]

    def test_all_titles_every_printed_page_is_one_list_page(self):
        for lines in (51, 60, 69):
            with self.subTest(lines=lines):
                pages = self.pages(f"all{lines}")
                per_page = lines - 1
                self.assertEqual(len(pages), -(-ENTRIES // per_page))
                printed = []
                for n, page in enumerate(pages):
                    self.assertTrue(is_title(page[0]), f"page {n + 1} begins with {page[0]!r}")
                    self.assertEqual(sum(is_title(line) for line in page), 1, f"page {n + 1}")
                    entries = self.entries_of(page)
                    expected = per_page if n < len(pages) - 1 else ENTRIES - per_page * (len(pages) - 1)
                    self.assertEqual(len(entries), expected, f"page {n + 1}")
                    printed += entries
                self.assertEqual(printed, list(range(ENTRIES)))
                self.assertTrue(self.paper(f"all{lines}").startswith("595"), self.paper(f"all{lines}"))

    def test_one_title_has_its_title_on_the_first_page_and_numbers_every_page(self):
        pages = self.pages("one")
        self.assertGreater(len(pages), 1)
        self.assertTrue(is_title(pages[0][0]))
        self.assertEqual([sum(is_title(line) for line in page) for page in pages], [1] + [0] * (len(pages) - 1))
        for n, page in enumerate(pages):
            footer = FOOTER.match(page[-1])
            self.assertIsNotNone(footer, f"page {n + 1} ends with {page[-1]!r}")
            self.assertEqual((int(footer.group(1)), int(footer.group(2))), (n + 1, len(pages)))
        self.assertEqual([e for page in pages for e in self.entries_of(page)], list(range(ENTRIES)))

    def test_the_printed_catalogue_uses_one_japanese_font(self):
        for name in self.jobs:
            with self.subTest(name=name):
                self.assertEqual(font_families(self.pdf(name)), {"NotoSansCJKjp"})

    def test_a_users_template_keeps_its_print_settings(self):
        with zipfile.ZipFile(os.path.join(self.dir.name, "user.xlsx")) as z:
            sheet = z.read("xl/worksheets/sheet1.xml").decode()
            workbook = z.read("xl/workbook.xml").decode()
        self.assertIn(USER_PAGE_SETUP, sheet)
        self.assertIn("Kartoma!$1:$1", workbook)
        self.assertEqual(self.paper("user"), LETTER_LANDSCAPE)
        # The print title the user set repeats the title on every page, as they asked.
        pages = self.pages("user")
        self.assertGreater(len(pages), 1)
        self.assertTrue(all(is_title(page[0]) for page in pages))
        self.assertEqual([e for page in pages for e in self.entries_of(page)], list(range(ENTRIES)))


if __name__ == "__main__":
    unittest.main()
