"""The Debian package and what the desktop reads from it, checked by Debian's own tools: lintian on the
.deb, desktop-file-validate on the desktop entry, appstreamcli on the metadata; and the manual page
against the options the program names in its --help."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

from test_cli_csv import KARTOMA, run

BUILD = os.path.dirname(os.path.abspath(KARTOMA))
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
MAN_PAGE = os.path.join(SOURCE, "resources", "man", "kartoma.1")
METAINFO = os.path.join(SOURCE, "resources", "desktop", "org.example.kartoma.metainfo.xml")
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def needs(*tools):
    missing = [tool for tool in tools if shutil.which(tool) is None]
    return unittest.skipIf(missing, f"needs {' and '.join(missing)} (scripts/setup --test installs them)")


class ManualPage(unittest.TestCase):
    def test_documents_every_option_the_help_names(self):
        helped = set(re.findall(r"--[a-z][a-z-]*", run("--help", check=True).stdout.decode()))
        with open(MAN_PAGE, encoding="utf-8") as f:
            page = f.read()
        documented = {"--" + m.replace("\\-", "-") for m in re.findall(r"\\-\\-((?:[a-z]|\\-)+)", page)}
        self.assertEqual(documented, helped)
        self.assertIn("--search", helped)


class DesktopFiles(unittest.TestCase):
    @needs("desktop-file-validate")
    def test_the_desktop_entry_is_valid_and_has_keywords_in_both_languages(self):
        entry = os.path.join(BUILD, "kartoma.desktop")
        result = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
        self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))
        with open(entry, encoding="utf-8") as f:
            keys = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        self.assertIn("カタログ", keys["Keywords[ja]"])
        self.assertIn("catalogue", keys["Keywords"])

    @needs("appstreamcli")
    def test_the_metadata_is_valid(self):
        result = subprocess.run(["appstreamcli", "validate", "--no-net", "--pedantic", METAINFO],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)


@needs("cpack", "dpkg-deb", "lintian")
class DebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        subprocess.run(["cpack", "-G", "DEB", "--config", os.path.join(BUILD, "CPackConfig.cmake"),
                        "-B", cls.dir.name, "-D", f"CPACK_OUTPUT_FILE_PREFIX={cls.dir.name}"],
                       capture_output=True, check=True, timeout=600)
        [cls.deb] = [os.path.join(cls.dir.name, f) for f in os.listdir(cls.dir.name) if f.endswith(".deb")]
        listing = subprocess.run(["dpkg-deb", "-c", cls.deb], capture_output=True, text=True, check=True).stdout
        # "./usr/bin/kartoma -> ../libexec/kartoma/kartoma": the path, without the link's target
        cls.paths = {line.split()[5].lstrip(".") for line in listing.splitlines()}

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def test_lintian_finds_no_error(self):
        result = subprocess.run(["lintian", "--tag-display-limit", "0", self.deb], capture_output=True, text=True,
                                timeout=600)
        errors = [line for line in result.stdout.splitlines() if line.startswith("E:")]
        self.assertEqual(errors, [], result.stdout + result.stderr)

    def test_holds_what_the_desktop_and_debian_look_for(self):
        expected = {"/usr/share/doc/kartoma/copyright", "/usr/share/doc/kartoma/changelog.gz",
                    "/usr/share/man/man1/kartoma.1.gz", "/usr/share/applications/kartoma.desktop",
                    "/usr/share/metainfo/org.example.kartoma.metainfo.xml",
                    "/usr/share/icons/hicolor/scalable/apps/kartoma.svg",
                    "/usr/share/fontconfig/conf.avail/65-kartoma-template-font.conf",
                    "/etc/fonts/conf.d/65-kartoma-template-font.conf"}
        expected |= {f"/usr/share/icons/hicolor/{n}x{n}/apps/kartoma.png" for n in ICON_SIZES}
        self.assertEqual(expected - self.paths, set())


if __name__ == "__main__":
    unittest.main()
