"""Hostile catalogues for the search, made small on disk and large once read: the generator behind
bench/search-hostile and the end-to-end test of the search (which makes small ones).

Each maker writes one file at `path` and returns nothing; workbooks are minimal packages (the
workbook part, its relationships, the sheet and, where it matters, the shared-string table), written
part by part so that the generating process stays small."""

import itertools
import zipfile

TITLES = ["ファイル名", "ディレクトリ", "サイズ", "日付", "時間", "ボリューム", "TYPE"]


def _xml_text(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def _title_row():
    cells = "".join(f'<c r="{chr(65 + i)}1" t="inlineStr"><is><t>{t}</t></is></c>'
                    for i, t in enumerate(TITLES))
    return f'<row r="1">{cells}</row>'.encode()


def workbook(path, sheet_chunks, shared_chunks=None):
    """A workbook whose sheet data is the concatenation of `sheet_chunks` (bytes, after the title
    row) and whose shared-string table, when given, holds the concatenation of `shared_chunks`."""
    rels = ('<Relationships><Relationship Id="rId1" Type="x/worksheet" Target="worksheets/sheet1.xml"/>'
            + ('<Relationship Id="rS" Type="x/sharedStrings" Target="sharedStrings.xml"/>'
               if shared_chunks is not None else "") + "</Relationships>")
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
        z.writestr("xl/workbook.xml",
                   '<workbook xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
                   '<sheets><sheet name="Kartoma" sheetId="1" r:id="rId1"/></sheets></workbook>')
        z.writestr("xl/_rels/workbook.xml.rels", rels)
        if shared_chunks is not None:
            with z.open("xl/sharedStrings.xml", "w", force_zip64=True) as f:
                f.write(b"<sst>")
                for chunk in shared_chunks:
                    f.write(chunk)
                f.write(b"</sst>")
        with z.open("xl/worksheets/sheet1.xml", "w", force_zip64=True) as f:
            f.write(b"<worksheet><sheetData>" + _title_row())
            for chunk in sheet_chunks:
                f.write(chunk)
            f.write(b"</sheetData></worksheet>")


def _repeat(piece, count, per_chunk=1 << 16):
    """`piece` `count` times, in chunks."""
    while count > 0:
        n = min(count, per_chunk)
        yield piece * n
        count -= n


def named_rows(path, names, folder="/media/disc/setup", shared=True):
    """An ordinary catalogue of `names` in one folder, stored with shared strings as spreadsheet
    applications save it (or with inline strings)."""
    def rows():
        for i, name in enumerate(names):
            r = i + 2
            if shared:
                yield (f'<row r="{r}"><c r="A{r}" t="s"><v>{i + 1}</v></c><c r="B{r}" t="s"><v>0</v></c>'
                       f'<c r="C{r}"><v>{i}</v></c></row>').encode()
            else:
                yield (f'<row r="{r}"><c r="A{r}" t="inlineStr"><is><t>{_xml_text(name)}</t></is></c>'
                       f'<c r="B{r}" t="inlineStr"><is><t>{folder}</t></is></c><c r="C{r}"><v>{i}</v></c></row>'
                       ).encode()

    def strings():
        yield f"<si><t>{folder}</t></si>".encode()
        for name in names:
            yield f"<si><t>{_xml_text(name)}</t></si>".encode()

    workbook(path, _chunked(rows()), _chunked(strings()) if shared else None)


def _chunked(pieces, size=1 << 20):
    buffer = []
    length = 0
    for piece in pieces:
        buffer.append(piece)
        length += len(piece)
        if length >= size:
            yield b"".join(buffer)
            buffer, length = [], 0
    if buffer:
        yield b"".join(buffer)


def shared_text_bomb(path, total):
    """Shared strings of `total` bytes of text in all (16 KiB each), one row using the first."""
    workbook(path, [b'<row r="2"><c r="A2" t="s"><v>0</v></c></row>'],
             _repeat(b"<si><t>" + b"a" * 16384 + b"</t></si>", total // 16384, 1024))


def shared_count_bomb(path, count):
    """`count` empty shared strings."""
    workbook(path, [b'<row r="2"><c r="A2" t="s"><v>0</v></c></row>'], _repeat(b"<si/>", count))


def long_cells(path, cells, size):
    """One row of `cells` inline strings of `size` bytes each."""
    def chunks():
        yield b'<row r="2">'
        for _ in range(cells):
            yield b'<c t="inlineStr"><is><t>'
            yield from _repeat(b"n", size, 1 << 20)
            yield b"</t></is></c>"
        yield b"</row>"
    workbook(path, chunks())


def wide_row(path, cells):
    """One row of `cells` cells holding a number each."""
    workbook(path, itertools.chain([b'<row r="2">'], _repeat(b"<c><v>1</v></c>", cells), [b"</row>"]))


def repeated_shared(path, size, rows):
    """`rows` rows that all name one shared string of `size` bytes."""
    workbook(path, _repeat(b'<row><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>0</v></c></row>', rows),
             [b"<si><t>" + b"n" * size + b"</t></si>"])


def csv_commas(path, size):
    """A CSV catalogue whose second line is `size` commas."""
    with open(path, "wb") as f:
        f.write(("\ufeff" + ",".join(f'"{t}"' for t in TITLES) + "\r\n").encode())
        for chunk in _repeat(b",", size, 1 << 20):
            f.write(chunk)
        f.write(b"\r\n")


def csv_long_line(path, size):
    """A CSV catalogue whose second line is one quoted name of `size` bytes."""
    with open(path, "wb") as f:
        f.write(("\ufeff" + ",".join(f'"{t}"' for t in TITLES) + "\r\n").encode())
        f.write(b'"')
        for chunk in _repeat(b"n", size, 1 << 20):
            f.write(chunk)
        f.write(b'","/m"\r\n')


def ordinary_csv(path, hits, misses, label="ORDINARY"):
    """A plain UTF-8 catalogue: `hits` names "wanted_N.txt" among `misses` others."""
    with open(path, "w", encoding="utf-8-sig", newline="") as f:
        f.write(",".join(f'"{t}"' for t in TITLES) + "\r\n")
        for i in range(hits + misses):
            name = f"wanted_{i}.txt" if i < hits else f"other_{i}.doc"
            f.write(f'"{name}","/m/{label}",{i},"2024/01/02","03:04:05","{label}","F"\r\n')
