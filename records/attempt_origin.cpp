#include "records/attempt_origin.h"

#include <pwd.h>
#include <unistd.h>

#include <QString>
#include <QSysInfo>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

// The buffer for a password database entry when the system suggests no size.
constexpr std::size_t kPasswdBuffer = 16384;

}  // namespace

std::string DefaultStationName() {
    return QSysInfo::machineHostName().toStdString();
}

std::string DefaultOperatorName() {
    if (const char* user = std::getenv("USER"); user != nullptr && *user != '\0') {
        return user;
    }
    // A service or a container may start the program without $USER: the login name of the
    // user it runs as is still known.
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : kPasswdBuffer);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_name != nullptr) {
        return found->pw_name;
    }
    return {};
}

std::string RecordedFileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}
