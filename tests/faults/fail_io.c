// Preloaded into a test's child process: once FAULT_AFTER bytes have been
// read (FAULT_OP=read) or written (FAULT_OP=write) through descriptors whose
// path holds FAULT_PATH, the next call fails with EIO, or with FAULT_HANG
// set the process stops there for good, to be killed mid-write. The call
// that crosses the limit is cut short, as a device would do it. With
// FAULT_OP=close, closing such a descriptor reports EIO (after closing it),
// as a file system reports a deferred write error. With FAULT_ZERO set, the
// failing call returns 0 instead: a write that takes no more bytes. With
// FAULT_EINTR set, it is interrupted by a signal (EINTR) instead, once: the
// calls after it go through.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static long long passed;
static int interrupted;

static ssize_t faulty(const char* op, int fd, void* data, size_t n) {
    static ssize_t (*realRead)(int, void*, size_t);
    static ssize_t (*realWrite)(int, const void*, size_t);
    static int (*realClose)(int);
    if (realRead == NULL) *(void**)&realRead = dlsym(RTLD_NEXT, "read");
    if (realWrite == NULL) *(void**)&realWrite = dlsym(RTLD_NEXT, "write");
    if (realClose == NULL) *(void**)&realClose = dlsym(RTLD_NEXT, "close");
    const char* want = getenv("FAULT_OP");
    const char* path = getenv("FAULT_PATH");
    const char* after = getenv("FAULT_AFTER");
    // Bytes still allowed on fd, or -1 when the fault does not apply to it.
    long long left = -1;
    if (want != NULL && path != NULL && after != NULL && strcmp(want, op) == 0) {
        char link[64];
        char name[4096];
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t length = readlink(link, name, sizeof name - 1);
        if (length > 0) {
            name[length] = '\0';
            if (strstr(name, path) != NULL) left = atoll(after) > passed ? atoll(after) - passed : 0;
        }
    }
    if (left == 0 && n > 0 && !interrupted) {
        while (getenv("FAULT_HANG") != NULL) pause();
        if (getenv("FAULT_EINTR") != NULL) {
            interrupted = 1;
            errno = EINTR;
            return -1;
        }
        if (op[0] == 'c') realClose(fd);
        if (getenv("FAULT_ZERO") != NULL) return 0;
        errno = EIO;
        return -1;
    }
    if (left > 0 && (unsigned long long)left < n) n = (size_t)left;
    const ssize_t done = op[0] == 'r' ? realRead(fd, data, n) : op[0] == 'w' ? realWrite(fd, data, n) : realClose(fd);
    if (left > 0 && done > 0) passed += done;
    return done;
}

ssize_t read(int fd, void* data, size_t n) { return faulty("read", fd, data, n); }
ssize_t write(int fd, const void* data, size_t n) { return faulty("write", fd, (void*)data, n); }
int close(int fd) { return (int)faulty("close", fd, NULL, 1); }
