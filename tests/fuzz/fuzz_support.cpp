#include "fuzz_support.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

// A copy of standard error taken before main runs: libFuzzer's -close_fd_mask=2 later points
// descriptor 2 at /dev/null to silence what the code under test prints.
const int kReportFd = ::dup(STDERR_FILENO);

}  // namespace

void FuzzCheck(bool holds, std::string_view property) {
    if (holds) {
        return;
    }
    const std::string report = "property does not hold: " + std::string(property) + "\n";
    const int fd = kReportFd >= 0 ? kReportFd : STDERR_FILENO;
    [[maybe_unused]] const ssize_t written = ::write(fd, report.data(), report.size());
    std::abort();
}
