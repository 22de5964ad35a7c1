#pragma once

#include <string>

// A private PostgreSQL 15 server in a fresh temporary folder, on a loopback port of its own,
// with the superuser flashwright (password kPassword, scram-sha-256); stopped and removed at
// the end. As root its programs run as the user postgres: initdb refuses root.
class PgCluster {
  public:
    static constexpr const char* kPassword = "plant-secret";
    // Empty when the server's programs are installed, else why they cannot run.
    static std::string Missing();
    static int FreePort();  // a loopback port nothing listens on now

    // Without `durable` commits do not wait for the disk (a crash of the server alone still
    // keeps them).
    explicit PgCluster(bool durable = false);
    ~PgCluster();

    bool Ok() const { return ok_; }
    bool Start();
    bool Stop(bool immediate);  // immediate: as in a crash
    std::string Url(const std::string& password = kPassword) const;

  private:
    bool Run(const std::string& command) const;
    std::string folder_;
    int port_ = 0;
    bool durable_;
    bool ok_ = false;
};
