#!/usr/bin/python3
"""Reads a workbook with openpyxl (a reader this project did not write) and prints what a test needs
as JSON: per sheet the cells (value and type), row heights, the look of styled cells, the footer, the used range, the
page breaks and the calculation setting. Usage: read_xlsx.py FILE [SHEET]"""

import json
import sys

import openpyxl
from openpyxl.utils.escape import unescape


def main():
    path = sys.argv[1]
    with open(path, "rb") as f:
        wb = openpyxl.load_workbook(f)
    ws = wb[sys.argv[2]] if len(sys.argv) > 2 else wb.active
    cells = {}
    looks = {}
    for row in ws.iter_rows():
        for c in row:
            if c.value is not None:
                # openpyxl leaves the package's _xHHHH_ escapes in inline strings; undo them by the rule.
                value = unescape(c.value) if isinstance(c.value, str) else c.value
                cells[c.coordinate] = [value, type(c.value).__name__]
            if c.font is not None and (c.font.b or (c.fill is not None and c.fill.fill_type)):
                looks[c.coordinate] = {"bold": bool(c.font.b), "size": c.font.sz,
                                       "fill": c.fill.fgColor.indexed if c.fill.fill_type else None,
                                       "border": c.border.left.style, "format": c.number_format}
    # A row that names no height is as high as the sheet's default.
    default = ws.sheet_format.defaultRowHeight
    heights = {str(r): d.height for r, d in ws.row_dimensions.items() if d.height is not None}
    for row in ws.iter_rows():
        if row and str(row[0].row) not in heights and default is not None:
            heights[str(row[0].row)] = default
    formats = {c.coordinate: c.number_format for row in ws.iter_rows() for c in row if c.value is not None}
    print(json.dumps({
        "sheets": wb.sheetnames,
        "cells": cells,
        "looks": looks,
        "heights": heights,
        "formats": formats,
        "footer": ws.oddFooter.right.text if ws.oddFooter and ws.oddFooter.right else None,
        "footer_left": ws.oddFooter.left.text if ws.oddFooter and ws.oddFooter.left else None,
        "dimension": ws.calculate_dimension(),
        "widths": {k: v.width for k, v in ws.column_dimensions.items()},
        "max_row": ws.max_row,
        "row_breaks": [b.id for b in ws.row_breaks.brk],
        "full_calc_on_load": bool(wb.calculation.fullCalcOnLoad),
    }, ensure_ascii=False))


if __name__ == "__main__":
    main()
