/* The reference side of the workbook benchmarks: libxlsxwriter in constant-memory mode.
 *   xlsxwriter_rows OUTPUT ROWS      the same synthetic rows as engine_fill
 *   xlsxwriter_rows OUTPUT -         rows from standard input, seven tab-separated fields per line
 *                                    (name, folder, size, date, time, label, type), as find prints them
 */
#include <xlsxwriter.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void header(lxw_worksheet* ws, lxw_format* bold) {
    const char* titles[] = {"ファイル名", "ディレクトリ", "サイズ", "日付", "時間", "ボリューム", "TYPE"};
    for (int c = 0; c < 7; ++c) {
        worksheet_write_string(ws, 0, (lxw_col_t)c, titles[c], bold);
    }
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: xlsxwriter_rows OUTPUT ROWS|-\n");
        return 2;
    }
    lxw_workbook_options options = {.constant_memory = LXW_TRUE, .tmpdir = NULL};
    lxw_workbook* wb = workbook_new_opt(argv[1], &options);
    lxw_worksheet* ws = workbook_add_worksheet(wb, "Kartoma");
    lxw_format* bold = workbook_add_format(wb);
    format_set_bold(bold);
    header(ws, bold);
    if (strcmp(argv[2], "-") != 0) {
        const long rows = strtol(argv[2], NULL, 10);
        char name[64];
        for (long i = 0; i < rows; ++i) {
            const lxw_row_t r = (lxw_row_t)(i + 1);
            snprintf(name, sizeof name, "file%ld 写真.jpg", i);
            worksheet_write_string(ws, r, 0, name, NULL);
            worksheet_write_string(ws, r, 1, "/media/disk/資料/backup_03", NULL);
            worksheet_write_number(ws, r, 2, (double)(i * 37 % 1000003), NULL);
            worksheet_write_string(ws, r, 3, "2026/12/08", NULL);
            worksheet_write_string(ws, r, 4, "09:05:00", NULL);
            worksheet_write_string(ws, r, 5, "BENCH", NULL);
            worksheet_write_string(ws, r, 6, "F", NULL);
            worksheet_set_row(ws, r, 13.5, NULL);
        }
    } else {
        char* line = NULL;
        size_t capacity = 0;
        lxw_row_t r = 1;
        while (getline(&line, &capacity, stdin) > 0) {
            char* fields[7] = {0};
            char* p = line;
            for (int f = 0; f < 7 && p != NULL; ++f) {
                fields[f] = strsep(&p, "\t\n");
            }
            if (fields[6] == NULL) {
                continue;
            }
            worksheet_write_string(ws, r, 0, fields[0], NULL);
            worksheet_write_string(ws, r, 1, fields[1], NULL);
            worksheet_write_number(ws, r, 2, strtod(fields[2], NULL), NULL);
            worksheet_write_string(ws, r, 3, fields[3], NULL);
            worksheet_write_string(ws, r, 4, fields[4], NULL);
            worksheet_write_string(ws, r, 5, fields[5], NULL);
            worksheet_write_string(ws, r, 6, fields[6], NULL);
            worksheet_set_row(ws, r, 13.5, NULL);
            ++r;
        }
        free(line);
    }
    return workbook_close(wb) == LXW_NO_ERROR ? 0 : 1;
}
