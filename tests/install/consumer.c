/* A host application against the installed package: parses a camera file
 * through the ready-made file stream and prints the camera model.
 *   consumer FILE [EXPECTED_MODEL] */
#include <stdio.h>
#include <string.h>

#include <qdparse.h>
#include <qdparse_host.h>

int main(int argc, char **argv) {
    qdlStream stream;
    QdImageInfo image;
    uint8_t fileType = 0;
    uint32_t rc, error = 0;

    if (argc < 2) {
        fprintf(stderr, "usage: consumer FILE [EXPECTED_MODEL]\n");
        return 2;
    }
    rc = qdhFileStreamInit(&stream, argv[1]);
    if (rc == QD_OK) {
        stream.open(stream.context, QD_OPEN_READ, &error);
        rc = error;
    }
    if (rc == QD_OK) {
        rc = QDParseStream(&stream, NULL, &image, NULL, NULL, &fileType);
        stream.close(stream.context, &error);
    }
    qdhStreamRelease(&stream);
    if (rc != QD_OK) {
        const char *name = qdhResultName(rc) ? qdhResultName(rc) : qdhErrorName(rc);
        fprintf(stderr, "consumer: %s: 0x%08lX %s\n", argv[1], (unsigned long)rc, name ? name : "");
        return 1;
    }
    printf("%s: file type %u, model %s\n", argv[1], (unsigned)fileType, image.model);
    if (argc > 2 && strcmp(image.model, argv[2]) != 0) {
        fprintf(stderr, "consumer: expected model \"%s\"\n", argv[2]);
        return 1;
    }
    return 0;
}
