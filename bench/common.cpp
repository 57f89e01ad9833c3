#include "common.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace bench {

int64_t mono_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t thread_cpu_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// open and read into a fixed buffer, not stdio: called between measured
// frames, it must not allocate from the heap it is helping to watch.
long status_kib(pid_t pid, const char* field)
{
    char path[64];
    if (pid == 0) {
        snprintf(path, sizeof path, "/proc/self/status");
    } else {
        snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    }
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char text[4096];
    size_t used = 0;
    for (;;) {
        const ssize_t n = read(fd, text + used, sizeof text - 1 - used);
        if (n <= 0) break;
        used += static_cast<size_t>(n);
        if (used == sizeof text - 1) break;
    }
    close(fd);
    text[used] = '\0';
    const size_t n = strlen(field);
    for (const char* line = text; line != nullptr && *line != '\0';) {
        if (strncmp(line, field, n) == 0 && line[n] == ':') return strtol(line + n + 1, nullptr, 10);
        line = strchr(line, '\n');
        if (line != nullptr) ++line;
    }
    return -1;
}

double load_average()
{
    FILE* f = fopen("/proc/loadavg", "re");
    if (f == nullptr) return -1;
    double one = -1;
    if (fscanf(f, "%lf", &one) != 1) one = -1;
    fclose(f);
    return one;
}

static void write_all(int fd, const std::string& text)
{
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n <= 0) return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

void report(int fd, const std::string& key, const std::string& value)
{
    write_all(fd, key + " " + value + "\n");
}

void report(int fd, const std::string& key, double value)
{
    char text[64];
    snprintf(text, sizeof text, "%.6g", value);
    report(fd, key, std::string(text));
}

}  // namespace bench
