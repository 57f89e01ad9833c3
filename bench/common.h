// Clocks, /proc readings and the child-to-parent report format shared by both
// sides of the benchmark.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace bench {

int64_t mono_ns();
int64_t thread_cpu_ns();

// A "Vm..." field of /proc/PID/status (0 for this process) in KiB; -1 when unreadable.
long status_kib(pid_t pid, const char* field);

// The 1-minute load average, or -1.
double load_average();

// Writes "key value\n" to fd: the whole report from a measuring child is lines of these.
void report(int fd, const std::string& key, const std::string& value);
void report(int fd, const std::string& key, double value);

}  // namespace bench
