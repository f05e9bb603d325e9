/* A preloaded shim for crash and full-disk tests of whole processes (LD_PRELOAD).
 *
 * It counts the calls that change log files (write, pwrite, ftruncate and their
 * variants on a descriptor whose path contains VKL_SHIM_MATCH, default ".vkl") and:
 *   VKL_SHIM_KILL_AT=N     kills the process with SIGKILL just before the Nth such call
 *   VKL_SHIM_ENOSPC_AT=N   fails the Nth such write and every later one with ENOSPC
 *   VKL_SHIM_SIGINT_AT=N   sends the process SIGINT (Ctrl-C) just before the Nth such call
 *   VKL_SHIM_COUNT=FILE    writes the number of such calls to FILE at exit
 *   VKL_SHIM_FREE_MB=M     makes statvfs report M MB free (a full disk still takes writes
 *                          until VKL_SHIM_ENOSPC_AT says otherwise)
 * Nothing here is part of the library; it only stands between a test and the kernel. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

static long g_calls;
static long g_killAt = -1;
static long g_enospcAt = -1;
static long g_sigintAt = -1;
static const char* g_match = ".vkl";
static const char* g_countFile;

static void WriteCount(void)
{
    if (!g_countFile) return;
    FILE* f = fopen(g_countFile, "w");
    if (f) {
        fprintf(f, "%ld\n", g_calls);
        fclose(f);
    }
}

__attribute__((constructor)) static void Init(void)
{
    const char* v;
    if ((v = getenv("VKL_SHIM_KILL_AT"))) g_killAt = atol(v);
    if ((v = getenv("VKL_SHIM_ENOSPC_AT"))) g_enospcAt = atol(v);
    if ((v = getenv("VKL_SHIM_SIGINT_AT"))) g_sigintAt = atol(v);
    if ((v = getenv("VKL_SHIM_MATCH")) && *v) g_match = v;
    g_countFile = getenv("VKL_SHIM_COUNT");
    if (g_countFile) atexit(WriteCount);
}

static int Matches(int fd)
{
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) return 0;
    path[n] = '\0';
    return strstr(path, g_match) != NULL;
}

/* Returns nonzero when the call must fail with ENOSPC. */
static int Count(int fd, int isWrite)
{
    if (!Matches(fd)) return 0;
    ++g_calls;
    if (g_calls == g_killAt) {
        WriteCount();
        kill(getpid(), SIGKILL);
    }
    if (g_calls == g_sigintAt) kill(getpid(), SIGINT);
    return isWrite && g_enospcAt > 0 && g_calls >= g_enospcAt;
}

#define NEXT(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

/* Counts the call; a counted write fails with ENOSPC once that is due. */
#define WRAP(type, name, isWrite, params, args)            \
    type name params                                       \
    {                                                      \
        if (Count(fd, isWrite)) return errno = ENOSPC, -1; \
        return NEXT(name) args;                            \
    }

WRAP(ssize_t, write, 1, (int fd, const void* buf, size_t n), (fd, buf, n))
WRAP(ssize_t, pwrite, 1, (int fd, const void* buf, size_t n, off_t off), (fd, buf, n, off))
WRAP(ssize_t, pwrite64, 1, (int fd, const void* buf, size_t n, off_t off), (fd, buf, n, off))
WRAP(ssize_t, writev, 1, (int fd, const struct iovec* iov, int count), (fd, iov, count))
WRAP(int, ftruncate, 0, (int fd, off_t length), (fd, length))
WRAP(int, ftruncate64, 0, (int fd, off_t length), (fd, length))

int statvfs(const char* path, struct statvfs* sv)
{
    const int r = NEXT(statvfs)(path, sv);
    const char* v = getenv("VKL_SHIM_FREE_MB");
    if (r == 0 && v) {
        sv->f_frsize = sv->f_bsize = 1048576;
        sv->f_bavail = sv->f_bfree = (fsblkcnt_t)atol(v);
    }
    return r;
}
