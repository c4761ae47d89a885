/* A slow disk, modelled for the benchmark. Preloaded into a variant's processes, this library makes
   every call that waits for the disk wait CORVALIN_FLUSH_DELAY_MS milliseconds first, as a hard
   disk, a USB stick or a memory card would, and counts it in the file CORVALIN_FLUSH_COUNTER, which
   every process of the variant maps and adds to, so that a count survives exec and kill.

   It waits before fsync, fdatasync, syncfs, sync, msync with MS_SYNC, sync_file_range with
   SYNC_FILE_RANGE_WAIT_AFTER, each write to a file opened with O_SYNC or O_DSYNC and each pwritev2
   with RWF_SYNC or RWF_DSYNC. Whether a descriptor was opened so is noted when it is opened here;
   one the library did not see opened is asked of the kernel once, at its first write.

   With CORVALIN_FLUSH_LOG_FD set it also writes a line to that descriptor around every flush and
   after every write to a run journal (a file whose name ends in ".journal"), for the power-cut
   harness to see when records were written and when they reached the disk:
     PC-FLUSHING time kind device inode
     PC-FLUSHED time kind device inode size
     PC-RECORD time device inode size tag
   with the time in seconds of CLOCK_MONOTONIC, the file's device and inode (for syncfs, those of the
   descriptor it was given: the whole device is meant), its size, and the record's first field.

   Plain C with no library beyond libc: the shell variant starts thousands of processes, and each
   loads this library. */
#define _GNU_SOURCE
#include "flush_kinds.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

static _Atomic uint64_t* counts;
static long delayNanoseconds;
static int logFd = -1;
static pthread_once_t setUpOnce = PTHREAD_ONCE_INIT;

/* Raw system calls: the library must not see its own opening of the counter file. */
static void setUp(void) {
    const char* delay = getenv("CORVALIN_FLUSH_DELAY_MS");
    if (delay)
        delayNanoseconds = atol(delay) * 1000000L;
    const char* log = getenv("CORVALIN_FLUSH_LOG_FD");
    if (log)
        logFd = atoi(log);
    const char* file = getenv("CORVALIN_FLUSH_COUNTER");
    if (!file)
        return;
    const int fd = (int)syscall(SYS_openat, AT_FDCWD, file, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return;
    void* mapped = mmap(NULL, kFlushKinds * sizeof(uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    syscall(SYS_close, fd);
    if (mapped != MAP_FAILED)
        counts = mapped;
}

static const char* const kKindNames[kFlushKinds] = {"fsync",  "fdatasync",       "syncfs",    "sync",
                                                    "msync", "sync_file_range", "sync-write"};

static double monotonicSeconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

/* One line in one write, so that lines of several processes never mix. */
static void logLine(const char* line, int length) {
    if (length > 0)
        syscall(SYS_write, logFd, line, (size_t)length);
}

static void logFlush(const char* what, enum FlushKind kind, int fd) {
    struct stat st = {0};
    if (fd < 0 || fstat(fd, &st) != 0)
        memset(&st, 0, sizeof st);
    char line[160];
    logLine(line, snprintf(line, sizeof line, "%s %.6f %s %lu %lu %lld\n", what, monotonicSeconds(),
                           kKindNames[kind], (unsigned long)st.st_dev, (unsigned long)st.st_ino,
                           (long long)st.st_size));
}

/* Before the real call: the disk's wait, and the count. */
static void flushing(enum FlushKind kind, int fd) {
    pthread_once(&setUpOnce, setUp);
    if (logFd >= 0)
        logFlush("PC-FLUSHING", kind, fd);
    if (delayNanoseconds > 0) {
        struct timespec wait = {delayNanoseconds / 1000000000L, delayNanoseconds % 1000000000L};
        while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
        }
    }
    if (counts)
        atomic_fetch_add(&counts[kind], 1);
}

/* After the real call. */
static void flushed(enum FlushKind kind, int fd) {
    if (logFd >= 0)
        logFlush("PC-FLUSHED", kind, fd);
}

/* The next definition of `name` after this library's; looked up once (a race looks up the same). */
#define REAL(name)                                                                                           \
    static __typeof__(&name) real_##name;                                                                    \
    if (!real_##name)                                                                                        \
    real_##name = (__typeof__(&name))dlsym(RTLD_NEXT, #name)

/* What the library knows of each descriptor: 0 not seen, 1 plain, 2 its writes wait for the disk. */
enum { kTracked = 1 << 16 };
static _Atomic unsigned char syncState[kTracked];

static _Atomic unsigned char isJournal[kTracked];

static void note(int fd, int flags) {
    if (fd >= 0 && fd < kTracked)
        syncState[fd] = (flags & O_DSYNC) ? 2 : 1; /* O_SYNC includes O_DSYNC */
}

static void noteOpened(int fd, int flags, const char* path) {
    note(fd, flags);
    pthread_once(&setUpOnce, setUp);
    const size_t length = path ? strlen(path) : 0;
    if (logFd >= 0 && fd >= 0 && fd < kTracked && length > 8)
        isJournal[fd] = strcmp(path + length - 8, ".journal") == 0;
}

/* After a write to a journal: its size now, and the first field of what was written. */
static void afterWrite(int fd, const void* data, ssize_t written) {
    if (written <= 0 || fd < 0 || fd >= kTracked || !isJournal[fd])
        return;
    struct stat st = {0};
    if (fstat(fd, &st) != 0)
        return;
    char tag[24];
    size_t length = 0;
    for (const char* c = data; length + 1 < sizeof tag && length < (size_t)written && c[length] != '\t' &&
                               c[length] != '\n';
         ++length)
        tag[length] = c[length];
    tag[length] = 0;
    char line[160];
    logLine(line, snprintf(line, sizeof line, "PC-RECORD %.6f %lu %lu %lld %s\n", monotonicSeconds(),
                           (unsigned long)st.st_dev, (unsigned long)st.st_ino, (long long)st.st_size, tag));
}

static void copyState(int from, int to) {
    if (to >= 0 && to < kTracked)
        syncState[to] = from >= 0 && from < kTracked ? syncState[from] : 0;
}

static int writesWait(int fd) {
    if (fd >= 0 && fd < kTracked && syncState[fd] != 0)
        return syncState[fd] == 2;
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0)
        return 0;
    note(fd, flags);
    return (flags & O_DSYNC) != 0;
}

static void beforeWrite(int fd) {
    if (writesWait(fd))
        flushing(kFlushSyncWrite, fd);
}

int fsync(int fd) {
    REAL(fsync);
    flushing(kFlushFsync, fd);
    const int result = real_fsync(fd);
    flushed(kFlushFsync, fd);
    return result;
}

int fdatasync(int fd) {
    REAL(fdatasync);
    flushing(kFlushFdatasync, fd);
    const int result = real_fdatasync(fd);
    flushed(kFlushFdatasync, fd);
    return result;
}

int syncfs(int fd) {
    REAL(syncfs);
    flushing(kFlushSyncfs, fd);
    const int result = real_syncfs(fd);
    flushed(kFlushSyncfs, fd);
    return result;
}

void sync(void) {
    REAL(sync);
    flushing(kFlushSync, -1);
    real_sync();
    flushed(kFlushSync, -1);
}

int msync(void* address, size_t length, int flags) {
    REAL(msync);
    if (flags & MS_SYNC)
        flushing(kFlushMsync, -1);
    return real_msync(address, length, flags);
}

int sync_file_range(int fd, off64_t offset, off64_t bytes, unsigned int flags) {
    REAL(sync_file_range);
    if (flags & SYNC_FILE_RANGE_WAIT_AFTER)
        flushing(kFlushSyncFileRange, fd);
    return real_sync_file_range(fd, offset, bytes, flags);
}

ssize_t write(int fd, const void* data, size_t size) {
    REAL(write);
    beforeWrite(fd);
    const ssize_t written = real_write(fd, data, size);
    afterWrite(fd, data, written);
    return written;
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
    REAL(pwrite);
    beforeWrite(fd);
    return real_pwrite(fd, data, size, offset);
}

ssize_t pwrite64(int fd, const void* data, size_t size, off64_t offset) {
    REAL(pwrite64);
    beforeWrite(fd);
    return real_pwrite64(fd, data, size, offset);
}

ssize_t writev(int fd, const struct iovec* parts, int count) {
    REAL(writev);
    beforeWrite(fd);
    const ssize_t written = real_writev(fd, parts, count);
    if (count > 0)
        afterWrite(fd, parts[0].iov_base, written < (ssize_t)parts[0].iov_len ? written : (ssize_t)parts[0].iov_len);
    return written;
}

ssize_t pwritev(int fd, const struct iovec* parts, int count, off_t offset) {
    REAL(pwritev);
    beforeWrite(fd);
    return real_pwritev(fd, parts, count, offset);
}

ssize_t pwritev2(int fd, const struct iovec* parts, int count, off_t offset, int flags) {
    REAL(pwritev2);
    if ((flags & (RWF_SYNC | RWF_DSYNC)) || writesWait(fd))
        flushing(kFlushSyncWrite, fd);
    return real_pwritev2(fd, parts, count, offset, flags);
}

ssize_t pwritev64v2(int fd, const struct iovec* parts, int count, off64_t offset, int flags) {
    return pwritev2(fd, parts, count, offset, flags);
}

/* Opening, duplicating and closing, so that a descriptor opened with O_SYNC or O_DSYNC is known
   without asking the kernel at every write. */
static mode_t modeArgument(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(args, int) : 0;
}

int open(const char* path, int flags, ...) {
    REAL(open);
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    const int fd = real_open(path, flags, mode);
    noteOpened(fd, flags, path);
    return fd;
}

int openat(int folder, const char* path, int flags, ...) {
    REAL(openat);
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    const int fd = real_openat(folder, path, flags, mode);
    noteOpened(fd, flags, path);
    return fd;
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    return open(path, flags, mode);
}

int openat64(int folder, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    return openat(folder, path, flags, mode);
}

int __open_2(const char* path, int flags) {
    return open(path, flags);
}

int __open64_2(const char* path, int flags) {
    return open(path, flags);
}

int __openat_2(int folder, const char* path, int flags) {
    return openat(folder, path, flags);
}

int __openat64_2(int folder, const char* path, int flags) {
    return openat(folder, path, flags);
}

int creat(const char* path, mode_t mode) {
    return open(path, O_CREAT | O_WRONLY | O_TRUNC, mode);
}

int creat64(const char* path, mode_t mode) {
    return open(path, O_CREAT | O_WRONLY | O_TRUNC, mode);
}

int close(int fd) {
    REAL(close);
    if (fd >= 0 && fd < kTracked)
        syncState[fd] = isJournal[fd] = 0;
    return real_close(fd);
}

int dup(int fd) {
    REAL(dup);
    const int copy = real_dup(fd);
    copyState(fd, copy);
    return copy;
}

int dup2(int fd, int to) {
    REAL(dup2);
    const int copy = real_dup2(fd, to);
    copyState(fd, copy);
    return copy;
}

int dup3(int fd, int to, int flags) {
    REAL(dup3);
    const int copy = real_dup3(fd, to, flags);
    copyState(fd, copy);
    return copy;
}

int fcntl(int fd, int command, ...) {
    REAL(fcntl);
    va_list args;
    va_start(args, command);
    void* argument = va_arg(args, void*);
    va_end(args);
    const int result = real_fcntl(fd, command, argument);
    if (command == F_DUPFD || command == F_DUPFD_CLOEXEC)
        copyState(fd, result);
    return result;
}

int fcntl64(int fd, int command, ...) {
    va_list args;
    va_start(args, command);
    void* argument = va_arg(args, void*);
    va_end(args);
    return fcntl(fd, command, argument);
}
