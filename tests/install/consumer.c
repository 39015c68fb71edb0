/* Loads the installed shared library and asks it for its newest identifier. */
#include <stdio.h>

#include <qdparse.h>

int main(void) {
    uint16_t id = 0;
    uint32_t rc = QDParseGetRttIDLatest(&id);
    if (rc != QD_OK || id != 273) {
        fprintf(stderr, "consumer: QDParseGetRttIDLatest gave 0x%08lX and %u, expected 0 and 273\n",
                (unsigned long)rc, (unsigned)id);
        return 1;
    }
    printf("qdparse newest identifier: %u\n", (unsigned)id);
    return 0;
}
