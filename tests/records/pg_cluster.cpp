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
const std::string kBin = "/usr/lib/postgresql/15/bin/";
}

std::string PgCluster::Missing() {
    const bool there = ::access((kBin + "pg_ctl").c_str(), X_OK) == 0;
    return there ? "" : "PostgreSQL 15 is not installed (no " + kBin + "pg_ctl)";
}

int PgCluster::FreePort() {
    const UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

PgCluster::PgCluster(bool durable) : port_(FreePort()), durable_(durable) {
    std::string folder = (std::filesystem::temp_directory_path() / "fwpg-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        return;
    }
    folder_ = folder;
    std::ofstream(folder_ + "/password") << kPassword << "\n";
    const passwd* postgres = ::geteuid() == 0 ? ::getpwnam("postgres") : nullptr;
    for (const std::string& path : {folder_, folder_ + "/password"}) {
        if (postgres != nullptr && ::chown(path.c_str(), postgres->pw_uid, postgres->pw_gid) != 0) {
            return;
        }
    }
    ok_ = Run(kBin + "initdb -D " + folder_ + "/data -U flashwright --auth=scram-sha-256 " +
              "--no-sync --pwfile=" + folder_ + "/password") &&
          Start();
}

PgCluster::~PgCluster() {
    if (!folder_.empty()) {
        Stop(true);
        std::filesystem::remove_all(folder_);
    }
}

bool PgCluster::Run(const std::string& command) const {
    const std::string as = ::geteuid() == 0 ? "runuser -u postgres -- " : "";
    return std::system((as + command + " >>" + folder_ + "/tools.log 2>&1").c_str()) == 0;
}

bool PgCluster::Start() {
    return Run(kBin + "pg_ctl -D " + folder_ + "/data -l " + folder_ + "/server.log -w -o \"-k " +
               folder_ + " -p " + std::to_string(port_) + " -c listen_addresses=127.0.0.1" +
               (durable_ ? "" : " -c fsync=off") + "\" start");
}

bool PgCluster::Stop(bool immediate) {
    return Run(kBin + "pg_ctl -D " + folder_ + "/data -w -m " + (immediate ? "immediate" : "fast") +
               " stop");
}

std::string PgCluster::Url(const std::string& password) const {
    return "postgresql://flashwright:" + password + "@127.0.0.1:" + std::to_string(port_) +
           "/postgres";
}
