// The station with its plant database behind a loopback proxy that stops forwarding, as a
// network that drops packets does: the session still ends soon after the stop, and the record
// left waiting is sent by the next session.

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <csignal>
#include <thread>

#include "e2e_fixture.h"
#include "records/attempt_records.h"
#include "sim/enc_maker.h"
#include "sim/ftdi_transport.h"
#include "tests/records/pg_cluster.h"

namespace {

UniqueFd Socket(const char* address, int port, bool listen) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in at{AF_INET, htons(static_cast<std::uint16_t>(port)), {}, {}};
    ::inet_pton(AF_INET, address, &at.sin_addr);
    const auto* a = reinterpret_cast<const sockaddr*>(&at);
    const int one = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const bool ok = listen ? ::bind(fd.Get(), a, sizeof at) == 0 && ::listen(fd.Get(), 8) == 0
                           : ::connect(fd.Get(), a, sizeof at) == 0;
    return ok ? std::move(fd) : UniqueFd();
}

// Passes TCP from `address`:`port` to the server on 127.0.0.1:`to` while `forwarding`; when
// not, it neither reads nor answers, and new connections wait unanswered.
struct StallingProxy {
    StallingProxy(const char* address, int port, int to)
        : listener(Socket(address, port, true)), thread([this, to](std::stop_token stop) {
              std::vector<std::array<UniqueFd, 2>> pairs;
              char buffer[65536];
              while (!stop.stop_requested()) {
                  std::vector<pollfd> fds{{listener.Get(), POLLIN, 0}};
                  for (const auto& pair : pairs) {
                      fds.push_back({pair[0].Get(), POLLIN, 0});
                      fds.push_back({pair[1].Get(), POLLIN, 0});
                  }
                  if (!forwarding || ::poll(fds.data(), fds.size(), 20) <= 0) {
                      std::this_thread::sleep_for(std::chrono::milliseconds(20));
                      continue;
                  }
                  for (std::size_t i = fds.size() - 1; i > 0; --i) {
                      auto& pair = pairs[(i - 1) / 2];
                      const ssize_t n =
                          fds[i].revents != 0 ? ::read(fds[i].fd, buffer, sizeof buffer) : -2;
                      if (n > 0) {
                          ::send(pair[i % 2].Get(), buffer, static_cast<std::size_t>(n),
                                 MSG_NOSIGNAL);
                      } else if (n != -2) {
                          pairs.erase(pairs.begin() + static_cast<std::ptrdiff_t>((i - 1) / 2));
                          break;
                      }
                  }
                  if ((fds[0].revents & POLLIN) != 0) {
                      pairs.push_back(
                          {UniqueFd(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC)),
                           Socket("127.0.0.1", to, false)});
                  }
              }
          }) {}
    std::atomic<bool> forwarding{true};
    UniqueFd listener;
    std::jthread thread;
};

}  // namespace

TEST(StationPlantTest, AStalledPlantNetworkEndsTheSessionWithinTwelveSecondsOfTheStop) {
    if (const std::string missing = PgCluster::Missing(); !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    PgCluster cluster;
    ASSERT_TRUE(cluster.Ok());
    const std::string direct = cluster.Url();
    StallingProxy proxy("127.0.92.1", 15432, std::stoi(direct.substr(direct.rfind(':') + 1)));
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
    std::vector<std::unique_ptr<FtdiSimServer>> devices;
    for (const char* serial : {"PL01", "PL02"}) {
        FtdiSimOptions o;
        o.serial = serial;
        devices.push_back(std::make_unique<FtdiSimServer>(bus.Path().string(), o));
        ASSERT_TRUE(devices.back()->Start(error)) << error;
        ASSERT_TRUE(station.WaitForLine("\"event\":\"result\"", std::chrono::seconds(20)));
        proxy.forwarding = false;  // the second record cannot reach the plant database
    }
    const auto stop = std::chrono::steady_clock::now();
    station.Signal(SIGINT);
    EXPECT_EQ(station.Wait(), 0);
    const auto took = std::chrono::steady_clock::now() - stop;
    std::printf("from the stop to the end with the plant network stalled: %.1f s\n",
                std::chrono::duration<double>(took).count());
    EXPECT_LT(took, std::chrono::seconds(12));
    EXPECT_TRUE(station.WaitForLine("\"state\":\"unreachable\"", std::chrono::seconds(5)));
    const std::optional<std::string> said =
        station.WaitForLine("not yet in the plant database", std::chrono::seconds(5));
    ASSERT_TRUE(said);
    // The end message counts what waits in the local store, which the next session sends.
    const std::string local = (files.Path() / "flashwright" / "records.sqlite").string();
    StoreError opened;
    std::int64_t left = 0;
    std::vector<RecordStore::Waiting> none;
    ASSERT_TRUE(RecordStore::Open(local, opened)->TakeWaiting(url, 0, none, left));
    EXPECT_NE(said->find(std::to_string(left) + (left == 1 ? " record is" : " records are")),
              std::string::npos)
        << *said;
    proxy.forwarding = true;
    std::string notice;
    const auto next =
        AttemptRecords::Open("postgresql://flashwright:" + std::string(PgCluster::kPassword) +
                                 "@127.0.92.1:15432/postgres",
                             opened, notice, local);
    ASSERT_NE(next, nullptr) << opened.message;
    EXPECT_EQ(next->Finish(notice), 0) << notice;
}
