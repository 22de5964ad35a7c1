// The station with its plant database behind a loopback proxy that stops forwarding, as a
// network that drops packets does: the session still ends soon after the stop, and the records
// left waiting are sent by the next session.

#include <arpa/inet.h>
#include <poll.h>

#include <csignal>
#include <thread>

#include "e2e_fixture.h"
#include "records/attempt_records.h"
#include "sim/enc_maker.h"
#include "sim/ftdi_transport.h"
#include "tests/records/pg_cluster.h"

namespace {

UniqueFd Tcp(const char* address, int port, bool listen) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in at{AF_INET, htons(static_cast<std::uint16_t>(port)), {}, {}};
    ::inet_pton(AF_INET, address, &at.sin_addr);
    const auto* a = reinterpret_cast<const sockaddr*>(&at);
    const int one = 1;  // a run just before may have left the port in TIME_WAIT
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const bool ok = listen ? ::bind(fd.Get(), a, sizeof at) == 0 && ::listen(fd.Get(), 8) == 0
                           : ::connect(fd.Get(), a, sizeof at) == 0;
    return ok ? std::move(fd) : UniqueFd();
}

// Passes TCP from 127.0.92.1:15432 to 127.0.0.1:`to` while `forwarding`; when not, it reads
// and answers nothing, and new connections wait unanswered.
struct StallingProxy {
    void Run(const std::stop_token& stop, int to) {
        std::vector<UniqueFd> ends;  // in pairs: a client's socket, then its server's
        while (!stop.stop_requested()) {
            std::vector<pollfd> polled;
            for (const UniqueFd& end : ends) {
                polled.push_back({end.Get(), POLLIN, 0});
            }
            polled.push_back({listener.Get(), POLLIN, 0});
            if (!forwarding || ::poll(polled.data(), polled.size(), 20) <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            for (std::size_t i = 0; i < ends.size(); ++i) {
                char bytes[65536];
                const ssize_t n = polled[i].revents == 0 ? 1 : ::read(ends[i].Get(), bytes, 65536);
                if (n <= 0) {  // one side ended: so does the pair
                    ends.erase(ends.begin() + static_cast<std::ptrdiff_t>(i & ~1U));
                    ends.erase(ends.begin() + static_cast<std::ptrdiff_t>(i & ~1U));
                    break;
                }
                if (polled[i].revents != 0) {
                    ::send(ends[i ^ 1U].Get(), bytes, static_cast<std::size_t>(n), MSG_NOSIGNAL);
                }
            }
            if (polled.back().revents != 0) {
                ends.emplace_back(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
                ends.push_back(Tcp("127.0.0.1", to, false));
            }
        }
    }
    UniqueFd listener = Tcp("127.0.92.1", 15432, true);
    std::atomic<bool> forwarding{true};
    std::jthread thread;
};

}  // namespace

TEST(StationPlantTest, AStalledPlantNetworkEndsTheSessionWithinTwelveSecondsOfTheStop) {
    if (const std::string missing = PgCluster::Missing(); !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    PgCluster cluster;
    ASSERT_TRUE(cluster.Ok());
    StallingProxy proxy;
    proxy.thread = std::jthread([&](const std::stop_token& stop) {
        proxy.Run(stop, std::stoi(cluster.Url().substr(cluster.Url().rfind(':') + 1)));
    });
    ASSERT_TRUE(proxy.listener.Valid());
    const std::string url = "postgresql://flashwright@127.0.92.1:15432/postgres";
    TempDir bus;
    TempDir files;
    const std::string file = (files.Path() / "app.enc").string();
    std::string error;
    ASSERT_TRUE(WriteUpdateFile(file, PseudoRandomBytes(1500, 5), 276, error)) << error;
    ChildOptions options;
    options.environment = {{"FLASHWRIGHT_FTDI_BUS", bus.Path().string()},
                           {"XDG_STATE_HOME", files.Path().string()},
                           {"XDG_CONFIG_HOME", files.Path().string()},
                           {"PGPASSWORD", PgCluster::kPassword}};
    BackgroundChild station(FlashwrightProgram(),
                            {"station", file, "--link", "FTDI", "--json", "--records", url},
                            options);
    ASSERT_TRUE(station.WaitForLine("\"state\":\"connected\"", std::chrono::seconds(20)));
    proxy.forwarding = false;  // from now on nothing reaches the plant database
    FtdiSimOptions o;
    o.serial = "PL01";
    FtdiSimServer device(bus.Path().string(), o);
    ASSERT_TRUE(device.Start(error)) << error;
    ASSERT_TRUE(station.WaitForLine("\"event\":\"result\"", std::chrono::seconds(20)));
    const auto stop = std::chrono::steady_clock::now();
    station.Signal(SIGINT);
    EXPECT_EQ(station.Wait(), 0);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - stop;
    std::printf("from the stop to the end, the plant network stalled: %.1f s\n", took.count());
    EXPECT_LT(took.count(), 12.0);
    EXPECT_TRUE(station.WaitForLine("\"state\":\"unreachable\"", std::chrono::seconds(5)));
    EXPECT_TRUE(station.WaitForLine("1 record is not yet in the plant", std::chrono::seconds(5)));
    proxy.forwarding = true;  // the next session sends it
    StoreError opened;
    std::string notice;
    const auto next = AttemptRecords::Open(
        "postgresql://flashwright:" + std::string(PgCluster::kPassword) + url.substr(url.find('@')),
        opened, notice, (files.Path() / "flashwright" / "records.sqlite").string());
    ASSERT_NE(next, nullptr) << opened.message;
    EXPECT_EQ(next->Finish(notice), 0) << notice;
}
