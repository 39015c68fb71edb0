/* Reads a camera file through the ready-made file stream and prints its
 * camera model, image size and capture time.
 *   read_file FILE [EXPECTED_MODEL]
 * With EXPECTED_MODEL it fails when the file names another model. */
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <qdparse.h>
#include <qdparse_host.h>

static const char *code_name(uint32_t code) {
    const char *name = qdhResultName(code);
    if (name == NULL) name = qdhErrorName(code);
    return name != NULL ? name : "unknown";
}

int main(int argc, char **argv) {
    qdlStream stream;
    QdImageInfo image;
    ExifCaptureInfo capture;
    uint8_t fileType = 0;
    uint32_t rc, error = 0;
    char when[32] = "unknown";

    if (argc < 2) {
        fprintf(stderr, "usage: read_file FILE [EXPECTED_MODEL]\n");
        return 2;
    }
    rc = qdhFileStreamInit(&stream, argv[1]);
    if (rc == QD_OK) {
        /* QDParseStream leaves opening and closing to the host. */
        stream.open(stream.context, QD_OPEN_READ, &error);
        rc = error;
    }
    if (rc == QD_OK) {
        rc = QDParseStream(&stream, NULL, &image, &capture, NULL, &fileType);
        stream.close(stream.context, &error);
    }
    qdhStreamRelease(&stream);
    if (rc != QD_OK) {
        fprintf(stderr, "read_file: %s: 0x%08lX %s\n", argv[1], (unsigned long)rc, code_name(rc));
        return 1;
    }
    if (capture.time != 0) {
        /* The camera's clock, read as local time on this host: the local
         * calendar gives its fields back. */
        time_t t = (time_t)capture.time;
        struct tm *parts = localtime(&t);
        if (parts != NULL) strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", parts);
    }
    printf("%s: model %s, %u x %u pixels, taken %s\n", argv[1], image.model, (unsigned)image.width,
           (unsigned)image.height, when);
    if (argc > 2 && strcmp(image.model, argv[2]) != 0) {
        fprintf(stderr, "read_file: expected model \"%s\"\n", argv[2]);
        return 1;
    }
    return 0;
}
