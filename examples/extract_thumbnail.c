/* Writes the DCF thumbnail of an Exif JPEG or Exif TIFF to a file.
 *   extract_thumbnail FILE OUT.jpg */
#include <stdio.h>

#include <qdparse.h>
#include <qdparse_host.h>

int main(int argc, char **argv) {
    qdlStream in, out;
    uint32_t rc;

    if (argc != 3) {
        fprintf(stderr, "usage: extract_thumbnail FILE OUT.jpg\n");
        return 2;
    }
    /* Both streams are opened and closed by the export itself. */
    rc = qdhFileStreamInit(&in, argv[1]);
    if (rc == QD_OK) rc = qdhFileStreamInit(&out, argv[2]);
    if (rc == QD_OK) rc = QDParseGetDCFThumbnail(&in, &out);
    qdhStreamRelease(&in);
    qdhStreamRelease(&out);
    if (rc != QD_OK) {
        const char *name = qdhResultName(rc) != NULL ? qdhResultName(rc) : qdhErrorName(rc);
        fprintf(stderr, "extract_thumbnail: %s: 0x%08lX %s\n", argv[1], (unsigned long)rc,
                name != NULL ? name : "unknown");
        return 1;
    }
    printf("%s: thumbnail written to %s\n", argv[1], argv[2]);
    return 0;
}
