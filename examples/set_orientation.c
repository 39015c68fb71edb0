/* Changes the orientation a camera file records, in place: the value is
 * overwritten where it lies and the file keeps its length.
 *   set_orientation FILE N      (N = 1 to 8, as Exif numbers it) */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <qdparse.h>
#include <qdparse_host.h>

/* The orientation record (code 7): a clockwise angle and a mirror flag. */
static const struct {
    uint32_t angle;
    uint16_t mirrored;
} kOrientations[9] = {{0, 0}, {0, 0}, {0, 1}, {180, 0}, {180, 1}, {270, 1}, {90, 0}, {90, 1}, {270, 0}};

int main(int argc, char **argv) {
    /* A property record: u16 code, u32 size, then the payload, packed and
     * little-endian. */
    uint8_t record[6 + 6];
    PropertyRecord *records[2];
    qdlStream stream;
    uint32_t rc, angle;
    uint16_t mirrored;
    long n;

    if (argc != 3 || (n = strtol(argv[2], NULL, 10)) < 1 || n > 8) {
        fprintf(stderr, "usage: set_orientation FILE N   (N = 1 to 8)\n");
        return 2;
    }
    angle = kOrientations[n].angle;
    mirrored = kOrientations[n].mirrored;
    record[0] = 0x07;
    record[1] = 0x00;
    record[2] = 6;
    record[3] = record[4] = record[5] = 0;
    record[6] = (uint8_t)angle;
    record[7] = (uint8_t)(angle >> 8);
    record[8] = record[9] = 0;
    record[10] = (uint8_t)mirrored;
    record[11] = 0;
    records[0] = (PropertyRecord *)record;
    records[1] = NULL;

    rc = qdhFileStreamInit(&stream, argv[1]);
    if (rc == QD_OK) rc = QDParseReplaceProperties(&stream, NULL, NULL, NULL, records);
    qdhStreamRelease(&stream);
    if (rc != QD_OK) {
        const char *name = qdhResultName(rc) != NULL ? qdhResultName(rc) : qdhErrorName(rc);
        fprintf(stderr, "set_orientation: %s: 0x%08lX %s\n", argv[1], (unsigned long)rc,
                name != NULL ? name : "unknown");
        return 1;
    }
    printf("%s: orientation %ld\n", argv[1], n);
    return 0;
}
