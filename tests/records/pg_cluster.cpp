#include "tests/records/pg_cluster.h"

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "log/unique_fd.h"

namespace {

constexpr const char* kBin = "/usr/lib/postgresql/15/bin/";

}  // namespace

std::string PgCluster::Missing() {
    for (const char* program : {"initdb", "pg_ctl", "postgres"}) {
        if (::access((std::string(kBin) + program).c_str(), X_OK) != 0) {
            return std::string("PostgreSQL 15 is not installed (no ") + kBin + program +
                   "; scripts/install-deps.sh installs it)";
        }
    }
    return {};
}

int PgCluster::FreePort() {
    const UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

PgCluster::PgCluster(bool durable) : port_(FreePort()), durable_(durable) {
    std::string pattern = (std::filesystem::temp_directory_path() / "fwpg-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return;
    }
    folder_ = pattern;
    std::ofstream(folder_ + "/password") << kPassword << "\n";
    if (::geteuid() == 0) {
        const passwd* postgres = ::getpwnam("postgres");
        if (postgres == nullptr) {
            return;
        }
        for (const std::string& path : {folder_, folder_ + "/password"}) {
            if (::chown(path.c_str(), postgres->pw_uid, postgres->pw_gid) != 0) {
                return;
            }
        }
    }
    ok_ = Run(std::string(kBin) + "initdb -D " + folder_ +
              "/data -U flashwright --auth=scram-sha-256 --no-sync --pwfile=" + folder_ +
              "/password") &&
          Start();
}

PgCluster::~PgCluster() {
    if (!folder_.empty()) {
        Stop(true);
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
}

bool PgCluster::Run(const std::string& command) const {
    const std::string as = ::geteuid() == 0 ? "runuser -u postgres -- " : "";
    return std::system((as + command + " >>" + folder_ + "/tools.log 2>&1").c_str()) == 0;
}

bool PgCluster::Start() {
    return Run(std::string(kBin) + "pg_ctl -D " + folder_ + "/data -l " + folder_ +
               "/server.log -w -o \"-k " + folder_ + " -p " + std::to_string(port_) +
               " -c listen_addresses=127.0.0.1" + (durable_ ? "" : " -c fsync=off") + "\" start");
}

bool PgCluster::Stop(bool immediate) {
    return Run(std::string(kBin) + "pg_ctl -D " + folder_ + "/data -w -m " +
               (immediate ? "immediate" : "fast") + " stop");
}

std::string PgCluster::Url(const std::string& password) const {
    return "postgresql://flashwright:" + password + "@127.0.0.1:" + std::to_string(port_) +
           "/postgres";
}
