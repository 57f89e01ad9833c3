// A preloaded library (LD_PRELOAD) that puts faults into the file calls of a
// process, for the process tests of the high-score storage. QUORVANE_SHIM says
// which:
//
//   kill-before-file-sync   SIGKILL on the first fsync of a regular file: the
//                           temporary file written, neither synced nor renamed
//   kill-before-rename      SIGKILL on renameat, before it: the temporary file
//                           written and synced
//   kill-after-rename       SIGKILL right after renameat, before the folder's fsync
//   slow-rename             renameat waits 10 ms first: a wider window between a
//                           save's read and its rename, for a missing lock to show
//   enospc-write            write to a regular file fails with ENOSPC
//   enospc-sync             fsync of a regular file fails with ENOSPC
//   count-reads             at exit, prints "shim: read N bytes" (read() from
//                           regular files) on standard error
#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

bool fault(const char* name)
{
    const char* wanted = getenv("QUORVANE_SHIM");
    return wanted != nullptr && strcmp(wanted, name) == 0;
}

bool regular(int fd)
{
    struct stat status;
    return fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

template <typename F>
F real(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

size_t bytes_read = 0;

struct Report {
    ~Report()
    {
        if (fault("count-reads")) fprintf(stderr, "shim: read %zu bytes\n", bytes_read);
    }
} report;

}  // namespace

extern "C" {

int renameat(int old_dir, const char* old_path, int new_dir, const char* new_path)
{
    static auto next = real<int (*)(int, const char*, int, const char*)>("renameat");
    if (fault("kill-before-rename")) raise(SIGKILL);
    if (fault("slow-rename")) {
        const timespec pause{0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    const int result = next(old_dir, old_path, new_dir, new_path);
    if (fault("kill-after-rename")) raise(SIGKILL);
    return result;
}

int fsync(int fd)
{
    static auto next = real<int (*)(int)>("fsync");
    if (regular(fd)) {
        if (fault("kill-before-file-sync")) raise(SIGKILL);
        if (fault("enospc-sync")) {
            errno = ENOSPC;
            return -1;
        }
    }
    return next(fd);
}

ssize_t write(int fd, const void* buffer, size_t count)
{
    static auto next = real<ssize_t (*)(int, const void*, size_t)>("write");
    if (fault("enospc-write") && regular(fd)) {
        errno = ENOSPC;
        return -1;
    }
    return next(fd, buffer, count);
}

ssize_t read(int fd, void* buffer, size_t count)
{
    static auto next = real<ssize_t (*)(int, void*, size_t)>("read");
    const ssize_t got = next(fd, buffer, count);
    if (got > 0 && regular(fd)) bytes_read += static_cast<size_t>(got);
    return got;
}
}
