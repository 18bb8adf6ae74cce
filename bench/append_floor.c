/* The floor of one append: only the system calls the message base's
 * design needs, in C, with no checks beyond the results.  Per message:
 * open the lock file and lock it, open the five files, find the ends of
 * the text and header files, read the counters, write the text, the
 * counters, the recipient, index and header records, close everything and
 * unlock.  Run by bench_append beside the library's append:
 *   append_floor DIR COUNT    prints the microseconds per append
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static int Open(const char* dir, const char* name, int flags) {
    char path[4096];
    snprintf(path, sizeof path, "%s/%s", dir, name);
    return open(path, flags | O_CLOEXEC, 0660);
}

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const char* dir = argv[1];
    int count = atoi(argv[2]);
    /* The sizes of one message of the timing run. */
    char text[140], to[61], idx[8], hdr[268], info[412];
    memset(text, 'x', sizeof text);
    memset(to, 0, sizeof to);
    memset(hdr, 0, sizeof hdr);
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    for (int i = 0; i < count; ++i) {
        int lock = Open(dir, "msgbase.lck", O_RDWR | O_CREAT);
        struct flock fl = {.l_type = F_WRLCK, .l_whence = SEEK_SET};
        fcntl(lock, F_OFD_SETLKW, &fl);
        int ftxt = Open(dir, "msgtxt.bbs", O_WRONLY), finfo = Open(dir, "msginfo.bbs", O_RDWR),
            fto = Open(dir, "msgtoidx.bbs", O_WRONLY | O_APPEND), fidx = Open(dir, "msgidx.bbs", O_WRONLY | O_APPEND),
            fhdr = Open(dir, "msghdr.bbs", O_WRONLY);
        struct stat st;
        fstat(ftxt, &st);
        off_t textEnd = st.st_size;
        fstat(fhdr, &st);
        off_t headerEnd = st.st_size;
        pread(finfo, info, sizeof info, 0);
        int number = 0;
        memcpy(&number, info + 4, 4);
        ++number;
        memcpy(info + 4, &number, 4);
        memcpy(idx, &number, 4);
        memcpy(hdr, &number, 4);
        int offset = (int)textEnd;
        memcpy(hdr + 4, &offset, 4);
        pwrite(ftxt, text, sizeof text, textEnd);
        pwrite(finfo, info, sizeof info, 0);
        write(fto, to, sizeof to);
        write(fidx, idx, sizeof idx);
        pwrite(fhdr, hdr, sizeof hdr, headerEnd);
        close(ftxt);
        close(finfo);
        close(fto);
        close(fidx);
        close(fhdr);
        fl.l_type = F_UNLCK;
        fcntl(lock, F_OFD_SETLK, &fl);
        close(lock);
    }
    clock_gettime(CLOCK_MONOTONIC, &t1);
    double us = ((double)(t1.tv_sec - t0.tv_sec) * 1e9 + (double)(t1.tv_nsec - t0.tv_nsec)) / 1e3;
    printf("%.2f\n", us / count);
    return 0;
}
