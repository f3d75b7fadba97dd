/* Deflates one sheet part several ways and prints time and size of each, so that the choice of the
 * workbook's deflate can be checked on a real sheet:
 *   zlib level 1, streamed
 *   ISA-L levels 0..3, streamed in 512 KiB pieces (what the engine used before)
 *   libdeflate levels 1, 6, 7 and 8, whole buffer and in independent 1 MiB chunks (what the engine
 *   does now at level 7: the chunks are joined into one stream)
 * Usage: deflate_sheet SHEET.xml */
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

enum { PIECE = 512 * 1024, CHUNK = 1024 * 1024 };

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

static void report(const char* what, double seconds, size_t in, size_t out) {
    printf("%-34s %7.3f s %8.1f MB/s %10zu bytes (%.3f of input)\n", what, seconds, in / seconds / 1e6, out,
           (double)out / in);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: deflate_sheet SHEET.xml\n");
        return 2;
    }
    FILE* f = fopen(argv[1], "rb");
    if (!f) {
        perror(argv[1]);
        return 1;
    }
    fseek(f, 0, SEEK_END);
    const size_t size = (size_t)ftell(f);
    fseek(f, 0, SEEK_SET);
    unsigned char* in = malloc(size);
    if (fread(in, 1, size, f) != size) {
        return 1;
    }
    fclose(f);
    unsigned char* out = malloc(size + size / 8 + 1024);
    char label[64];

    z_stream z;
    memset(&z, 0, sizeof z);
    double t = now();
    deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    z.next_in = in;
    z.avail_in = (uInt)size;
    z.next_out = out;
    z.avail_out = (uInt)(size + size / 8 + 1024);
    deflate(&z, Z_FINISH);
    report("zlib 1, streamed", now() - t, size, z.total_out);
    deflateEnd(&z);

    for (unsigned level = 0; level <= 3; ++level) {
        struct isal_zstream s;
        isal_deflate_init(&s);
        s.level = level;
        const unsigned bufSize = level == 0 ? 0 : level == 1 ? ISAL_DEF_LVL1_DEFAULT
                               : level == 2 ? ISAL_DEF_LVL2_DEFAULT
                                            : ISAL_DEF_LVL3_DEFAULT;
        unsigned char* levelBuf = bufSize ? malloc(bufSize) : NULL;
        s.level_buf = levelBuf;
        s.level_buf_size = bufSize;
        t = now();
        s.next_out = out;
        s.avail_out = (uint32_t)(size + size / 8 + 1024);
        for (size_t at = 0; at < size; at += PIECE) {
            const size_t n = size - at < PIECE ? size - at : PIECE;
            s.next_in = in + at;
            s.avail_in = (uint32_t)n;
            s.end_of_stream = at + n == size;
            isal_deflate(&s);
        }
        snprintf(label, sizeof label, "ISA-L %u, streamed", level);
        report(label, now() - t, size, s.total_out);
        free(levelBuf);
    }

    static const int levels[] = {1, 6, 7, 8};
    for (unsigned i = 0; i < sizeof levels / sizeof levels[0]; ++i) {
        const int level = levels[i];
        struct libdeflate_compressor* c = libdeflate_alloc_compressor(level);
        t = now();
        size_t whole = libdeflate_deflate_compress(c, in, size, out, size + size / 8 + 1024);
        snprintf(label, sizeof label, "libdeflate %d, whole", level);
        report(label, now() - t, size, whole);
        t = now();
        size_t pieces = 0;
        for (size_t at = 0; at < size; at += CHUNK) {
            const size_t n = size - at < CHUNK ? size - at : CHUNK;
            pieces += libdeflate_deflate_compress(c, in + at, n, out, size + size / 8 + 1024);
        }
        snprintf(label, sizeof label, "libdeflate %d, 1 MiB chunks", level);
        report(label, now() - t, size, pieces);
        libdeflate_free_compressor(c);
    }
    free(in);
    free(out);
    return 0;
}
