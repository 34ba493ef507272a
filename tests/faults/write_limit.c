/* Preloaded into the tools by the fault tests: makes a folder behave like a full disk, or
 * kills the process in the middle of a write, once a file below that folder passes a size.
 *
 *   AURALON_FAULT_FOLDER   absolute folder; files below it are limited (required)
 *   AURALON_FAULT_BYTES    size in bytes a file may reach (required)
 *   AURALON_FAULT_ACTION   "enospc" (default): writes beyond the size fail with ENOSPC, a
 *                          write that straddles it is cut short, as on a full disk;
 *                          "kill": the bytes up to the size are written, then the process
 *                          kills itself with SIGKILL
 *   AURALON_FAULT_PROGRAM  when set, only a process of this name is affected (the name it
 *                          was started by, e.g. "client" or "client123")
 *
 * Everything else passes through unchanged. The settings are read once, at load time, so the
 * wrappers are safe in the normaliser's threads.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

static char folder[PATH_MAX];
static size_t folder_length;
static long long limit_bytes = -1;
static int kill_instead;

typedef ssize_t (*write_fn)(int, const void*, size_t);
typedef ssize_t (*pwrite_fn)(int, const void*, size_t, off_t);
typedef ssize_t (*writev_fn)(int, const struct iovec*, int);
typedef int (*fallocate_fn)(int, int, off_t, off_t);
typedef int (*posix_fallocate_fn)(int, off_t, off_t);

static write_fn real_write;
static pwrite_fn real_pwrite;
static pwrite_fn real_pwrite64;
static writev_fn real_writev;
static fallocate_fn real_fallocate;
static posix_fallocate_fn real_posix_fallocate;
static fallocate_fn real_fallocate64;
static posix_fallocate_fn real_posix_fallocate64;

__attribute__((constructor)) static void load_settings(void)
{
    real_write = (write_fn)dlsym(RTLD_NEXT, "write");
    real_pwrite = (pwrite_fn)dlsym(RTLD_NEXT, "pwrite");
    real_pwrite64 = (pwrite_fn)dlsym(RTLD_NEXT, "pwrite64");
    real_writev = (writev_fn)dlsym(RTLD_NEXT, "writev");
    real_fallocate = (fallocate_fn)dlsym(RTLD_NEXT, "fallocate");
    real_posix_fallocate = (posix_fallocate_fn)dlsym(RTLD_NEXT, "posix_fallocate");
    real_fallocate64 = (fallocate_fn)dlsym(RTLD_NEXT, "fallocate64");
    real_posix_fallocate64 = (posix_fallocate_fn)dlsym(RTLD_NEXT, "posix_fallocate64");

    const char* dir = getenv("AURALON_FAULT_FOLDER");
    const char* bytes = getenv("AURALON_FAULT_BYTES");
    const char* program = getenv("AURALON_FAULT_PROGRAM");
    const char* action = getenv("AURALON_FAULT_ACTION");
    if (!dir || !*dir || !bytes || !*bytes)
        return;
    if (program && *program && strcmp(program, program_invocation_short_name) != 0)
        return;
    folder_length = strlen(dir);
    if (folder_length + 2 > sizeof folder)
        return;
    memcpy(folder, dir, folder_length);
    while (folder_length > 1 && folder[folder_length - 1] == '/')
        --folder_length;
    folder[folder_length++] = '/';
    folder[folder_length] = '\0';
    limit_bytes = atoll(bytes);
    kill_instead = action && strcmp(action, "kill") == 0;
}

/* Whether fd is a plain file below the folder; *size gets its size. */
static int limited(int fd, long long* size)
{
    if (limit_bytes < 0)
        return 0;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    char link[64];
    char path[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0)
        return 0;
    path[n] = '\0';
    *size = (long long)st.st_size;
    return strncmp(path, folder, folder_length) == 0;
}

/* How many of `count` bytes at `offset` (-1: the file position) may be written; -1 with
 * errno set when none may. */
static long long room_for(int fd, long long offset, size_t count)
{
    long long size = 0;
    if (count == 0 || !limited(fd, &size))
        return (long long)count;
    long long at = offset;
    if (at < 0) {
        int flags = fcntl(fd, F_GETFL);
        at = flags >= 0 && (flags & O_APPEND) ? size : (long long)lseek(fd, 0, SEEK_CUR);
    }
    if (at + (long long)count <= limit_bytes)
        return (long long)count;
    if (at < limit_bytes)
        return limit_bytes - at;
    errno = ENOSPC;
    return -1;
}

static void die_if_asked(int was_cut)
{
    if (kill_instead && was_cut)
        kill(getpid(), SIGKILL);
}

ssize_t write(int fd, const void* data, size_t count)
{
    long long room = room_for(fd, -1, count);
    if (room < 0 && kill_instead)
        die_if_asked(1);
    if (room < 0)
        return -1;
    ssize_t written = real_write(fd, data, (size_t)room);
    die_if_asked((size_t)room < count);
    return written;
}

static ssize_t limited_pwrite(pwrite_fn real, int fd, const void* data, size_t count, off_t offset)
{
    long long room = room_for(fd, (long long)offset, count);
    if (room < 0 && kill_instead)
        die_if_asked(1);
    if (room < 0)
        return -1;
    ssize_t written = real(fd, data, (size_t)room, offset);
    die_if_asked((size_t)room < count);
    return written;
}

ssize_t pwrite(int fd, const void* data, size_t count, off_t offset)
{
    return limited_pwrite(real_pwrite, fd, data, count, offset);
}

ssize_t pwrite64(int fd, const void* data, size_t count, off_t offset)
{
    return limited_pwrite(real_pwrite64, fd, data, count, offset);
}

ssize_t writev(int fd, const struct iovec* parts, int n)
{
    size_t total = 0;
    for (int i = 0; i < n; ++i)
        total += parts[i].iov_len;
    long long room = room_for(fd, -1, total);
    if (room < 0 && kill_instead)
        die_if_asked(1);
    if (room < 0)
        return -1;
    if ((size_t)room == total)
        return real_writev(fd, parts, n);
    /* Cut short: only the first `room` bytes, as one plain write. */
    ssize_t written = 0;
    for (int i = 0; i < n && room > 0; ++i) {
        size_t part = parts[i].iov_len < (size_t)room ? parts[i].iov_len : (size_t)room;
        ssize_t put = real_write(fd, parts[i].iov_base, part);
        if (put < 0)
            return written > 0 ? written : put;
        written += put;
        room -= put;
        if ((size_t)put < part)
            break;
    }
    die_if_asked(1);
    return written;
}

/* A full disk refuses a reservation beyond its room; a kill waits for the writes. */
static int refuses(int fd, off_t offset, off_t length)
{
    long long size = 0;
    return !kill_instead && limited(fd, &size) && (long long)offset + (long long)length > limit_bytes;
}

int fallocate(int fd, int mode, off_t offset, off_t length)
{
    if (refuses(fd, offset, length)) {
        errno = ENOSPC;
        return -1;
    }
    return real_fallocate(fd, mode, offset, length);
}

int posix_fallocate(int fd, off_t offset, off_t length)
{
    if (refuses(fd, offset, length))
        return ENOSPC;
    return real_posix_fallocate(fd, offset, length);
}

int fallocate64(int fd, int mode, off_t offset, off_t length)
{
    if (refuses(fd, offset, length)) {
        errno = ENOSPC;
        return -1;
    }
    return real_fallocate64(fd, mode, offset, length);
}

int posix_fallocate64(int fd, off_t offset, off_t length)
{
    if (refuses(fd, offset, length))
        return ENOSPC;
    return real_posix_fallocate64(fd, offset, length);
}
