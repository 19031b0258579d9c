#include "BenchReport.h"

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace Bench {

void Report(const char* what, uint64_t frames, double seconds, uint64_t frameBytes) {
    std::printf("%-34s frames %7llu  %6.2f s  %9.1f fps  %8.1f MB/s\n", what,
                static_cast<unsigned long long>(frames), seconds, frames / seconds,
                frames * double(frameBytes) / seconds / 1e6);
}

void Report(const char* what, const Measurement& m) {
    Report(what, m.frames, m.seconds, m.payload);
    std::printf("%-34s incomplete %llu, CPU %.1f us per frame\n", "",
                static_cast<unsigned long long>(m.incomplete), m.CpuPerFrameUs());
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int64_t RealtimeNs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmRSS:") == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0.0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Percent(double value, double base) {
    return base > 0 ? (value - base) / base * 100.0 : 0.0;
}

}  // namespace Bench
