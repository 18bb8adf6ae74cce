/* The floor of a name look-up: users.bbs read in large blocks and the name
 * field of each 412-byte record compared, nothing else.  Prints the
 * microseconds of one look-up, the mean of the count asked for.
 *   user_scan_floor users.bbs name count */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

enum { kRecord = 412, kNameWidth = 36, kBlock = 256 * kRecord };

static int Find(const char* path, const char* name) {
    static unsigned char buf[kBlock];
    size_t len = strlen(name);
    int fd = open(path, O_RDONLY);
    if (fd < 0) return -2;
    int number = 0, found = -1;
    ssize_t got;
    while (found < 0 && (got = read(fd, buf, sizeof buf)) >= kRecord) {
        for (ssize_t at = 0; at + kRecord <= got; at += kRecord, ++number) {
            const unsigned char* n = buf + at;
            if (memcmp(n, name, len) == 0 && (len == kNameWidth || n[len] == 0)) {
                found = number;
                break;
            }
        }
    }
    close(fd);
    return found;
}

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    int count = atoi(argv[3]);
    struct timespec a, b;
    clock_gettime(CLOCK_MONOTONIC, &a);
    int found = 0;
    for (int i = 0; i < count; ++i) found += Find(argv[1], argv[2]);
    clock_gettime(CLOCK_MONOTONIC, &b);
    double us = (double)(b.tv_sec - a.tv_sec) * 1e6 + (double)(b.tv_nsec - a.tv_nsec) / 1e3;
    printf("%f %d\n", us / count, found);
    return 0;
}
