// Station command lines that cannot serve anything end at once with their status and say why,
// before anything opens; one device is never served by two slots or by two stations.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <map>

#include "e2e_fixture.h"
#include "job/job_file.h"
#include "sim/enc_maker.h"
#include "sim/udp_transport.h"
#include "station/job_rules.h"
#include "update/exit_codes.h"

namespace {

struct StationStart {
    StationStart() {
        std::string error;
        EXPECT_TRUE(WriteUpdateFile(file, PseudoRandomBytes(600, 9), 276, error)) << error;
    }
    ChildOptions Options(std::pair<std::string, std::string> extra = {"FLASHWRIGHT_FTDI_BUS", ""}) {
        ChildOptions options;
        options.environment = {{"FLASHWRIGHT_FTDI_BUS", ""}, extra};
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "XDG_STATE_HOME"}) {
            options.environment.emplace_back(name, files.Path().string());
        }
        options.limit = std::chrono::seconds(20);  // a station that keeps running fails its row
        return options;
    }
    TempDir files;
    const std::string file = (files.Path() / "app.enc").string();
};

// A job for the update file beside it, with one of its texts replaced; its path.
std::string WriteJob(const StationStart& start, const std::string& from = "",
                     const std::string& to = "",
                     std::filesystem::perms mode = std::filesystem::perms(0644)) {
    std::string text =
        "[job]\nname = \"rev C\"\nfile = \"app.enc\"\nsha256 = \"{sha}\"\n"
        "[station]\nlink = \"UDP\"\nslots = [\"127.0.102.1\"]\n"
        "[lot]\nsize = 3\nid = \"L1\"\n[operator]\nrequired = true\n"
        "[hook]\non_result = [\"hook.sh\", \"--label\"]\n";
    if (!from.empty()) {
        text.replace(text.find(from), from.size(), to);
    }
    const std::string sha =
        QCryptographicHash::hash(QByteArray::fromStdString(start.files.Read("app.enc")),
                                 QCryptographicHash::Sha256)
            .toHex()
            .toStdString();
    if (const std::size_t at = text.find("{sha}"); at != std::string::npos) {
        text.replace(at, 5, sha);
    }
    for (const auto& [name, perms] : {std::pair{"hook.sh", std::filesystem::perms(0755)},
                                      {"plain.sh", std::filesystem::perms(0644)},
                                      {"open.sh", std::filesystem::perms(0777)}}) {
        std::filesystem::permissions(start.files.Write(name, "#!/bin/sh\n"), perms);
    }
    const std::string path = start.files.Write("job.toml", text);
    std::filesystem::permissions(path, mode);
    return path;
}

}  // namespace

TEST(StationStartTest, AStationThatCanServeNothingEndsAtOnceAndSaysWhy) {
    StationStart start;
    UdpSimServer device({}, "127.0.90.2");  // named twice below: never touched
    std::string error;
    ASSERT_TRUE(device.Start(error)) << error;
    const int usage = kExitUsage;
    const int noLink = ExitStatus(kExitOpenFailed);
    const std::pair<std::string, std::string> noUdev{"FLASHWRIGHT_UDEV_CONTROL", "/nonexistent/c"};
    const std::pair<std::string, std::string> noBus{"FLASHWRIGHT_USBXPRESS_BUS", "/nonexistent"};
    const struct {
        std::vector<std::string> options;
        int status;
        std::string message;
        std::pair<std::string, std::string> env = {"FLASHWRIGHT_FTDI_BUS", ""};
    } rows[] = {
        {{"UDP", "--slots", "127.0.90.2,127.0.90.02"}, usage, "same device (127.0.90.2:4107)"},
        {{"UDP", "--slots", "127.0.0.1,127.1,localhost"}, usage, "\"127.0.0.1\" and \"127.1\" are"},
        {{"COM", "--slots", "null,/dev/../dev/null"}, usage, "are the same device"},
        {{"UDP", "--slots", ""}, usage, "--slots: \"\" is no IPv4 address or host name"},
        {{"UDP", "--slots", "300.1.1.1"}, usage, "\"300.1.1.1\" is no IPv4 address"},
        {{"UDP", "--slots", "127.0.90.1 127.0.90.2"}, usage, "is no IPv4 address"},
        {{"UDP", "--slots", "nosuchhost.invalid"}, usage, "\"nosuchhost.invalid\" names no host"},
        {{"FTDI", "--slots", "127.0.90.1"}, usage, "--slots is for --link UDP or COM"},
        {{"USB"}, usage, "--link USB is unknown: use FTDI, USBX, COM or UDP"},
        {{"COM"}, usage, "(--match VID:PID)"},
        {{"FTDI"}, noLink, "over FTDI: udev is not running (no /nonexistent/c)", noUdev},
        {{"USBX"}, noLink, "bus folder /nonexistent (FLASHWRIGHT_USBXPRESS_BUS) is no", noBus},
        {{"UDP", "--slots", "127.0.90.1", "--records", "mysql://db/r"}, 77, "cannot use: give"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args{"station", start.file, "--link"};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const ChildResult result = RunChild(FlashwrightProgram(), args, start.Options(row.env));
        EXPECT_EQ(result.status, row.status) << row.options.back() << ": " << result.err;
        EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
    }
    EXPECT_EQ(device.Inspect([](const BootloaderSim& sim) { return sim.SyncRequests(); }), 0u);
}

TEST(StationStartTest, ASecondStationOnAnotherSpellingOfASlotIsRefused) {
    StationStart start;
    UdpSimServer device({}, "127.0.90.3");
    std::string error;
    ASSERT_TRUE(device.Start(error)) << error;
    BackgroundChild first(
        FlashwrightProgram(),
        {"station", start.file, "--link", "UDP", "--slots", "127.0.90.3", "--json"},
        start.Options());
    ASSERT_TRUE(first.WaitForLine("\"event\":\"result\"", std::chrono::seconds(20)));
    // Records of its own: only the slot's lock stands between the two.
    const ChildResult second = RunChild(FlashwrightProgram(),
                                        {"station", start.file, "--link", "UDP", "--slots",
                                         "127.0.90.003", "--records", start.file + ".sqlite"},
                                        start.Options());
    EXPECT_EQ(second.status, kExitUsage);
    EXPECT_NE(second.err.find("another station already serves the slot 127.0.90.003"),
              std::string::npos)
        << second.err;
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(), 0);
}

TEST(StationStartTest, AJobThatCannotBeUsedIsRefusedByJobCheckAndByTheStation) {
    StationStart start;
    const std::filesystem::perms unsafe = std::filesystem::perms(0666);
    const struct {
        std::string from, to;
        int status;
        std::string message;  // "{sha}": the update file's SHA-256
        std::filesystem::perms mode = std::filesystem::perms(0644);
    } rows[] = {
        {"", "", 0, "\nvalid\n"},
        {"size", "sise", kExitJobInvalid, "job.toml:9:1: unknown key \"lot.sise\""},
        {"3", "\"3\"", kExitJobInvalid, "job.toml:9:8: \"lot.size\" must be an integer, not a st"},
        {"[job]", "[job", kExitJobInvalid, "job.toml:1:5: "},
        {"name = \"rev C\"", "", kExitJobInvalid, "job.toml: missing key \"job.name\""},
        {"\"UDP\"", "\"USB\"", kExitJobInvalid, "\"station.link\" USB is unknown: use FTDI, USBX"},
        {"{sha}", std::string(64, 'A'), kExitJobFileMismatch,
         "app.enc: its SHA-256 is {sha}, the job expects " + std::string(64, 'a')},
        {"", "", kExitJobUnsafe,
         "job.toml can be changed by users other than its owner (mode 0666)"
         ": chmod go-w ",
         unsafe},
        {"[operator]", "[metrics]\nlisten = \":9100\"\n[operator]", kExitJobInvalid,
         "job.toml: \"metrics.listen\" :9100 is not ADDR:PORT"},
        {"hook.sh", "gone.sh", kExitJobInvalid, "/gone.sh does not exist"},
        {"hook.sh", "plain.sh", kExitJobInvalid, "/plain.sh is not executable: chmod +x /"},
        {"hook.sh", "open.sh", kExitJobUnsafe,
         "/open.sh can be changed by users other than its "
         "owner (mode 0777): chmod go-w /"},
    };
    for (const auto& row : rows) {
        const std::string job = WriteJob(start, row.from, row.to, row.mode);
        std::string message = row.message;
        if (const std::size_t at = message.find("{sha}"); at != std::string::npos) {
            std::string bytes = start.files.Read("app.enc");
            message.replace(at, 5,
                            QCryptographicHash::hash(QByteArray::fromStdString(bytes),
                                                     QCryptographicHash::Sha256)
                                .toHex()
                                .toStdString());
        }
        const ChildResult check = RunChild(FlashwrightProgram(), {"job", "check", job});
        EXPECT_EQ(check.status, row.status) << row.message << ": " << check.out;
        EXPECT_NE(check.out.find(message), std::string::npos) << check.out;
        if (row.status == 0) {
            continue;  // a usable job's station would start serving
        }
        const ChildResult station = RunChild(
            FlashwrightProgram(), {"station", "--job", job, "--operator", "ann"}, start.Options());
        EXPECT_EQ(station.status, row.status) << row.message << ": " << station.err;
        EXPECT_NE(station.err.find(message), std::string::npos) << station.err;
    }
}

TEST(StationStartTest, AJobsSettingsCannotBeGivenAgainAndItsOperatorMustBeNamed) {
    StationStart start;
    const std::string job = WriteJob(start);
    const std::string operatorRequired = "the job requires the operator's name (operator.required)";
    const struct {
        std::vector<std::string> options;
        std::string message;
    } rows[] = {
        {{"--operator", "ann", "--link", "UDP"}, "--link is set by the job (station.link)"},
        {{"--operator", "ann", "--slots=127.0.102.9"}, "--slots is set by the job (station.slots)"},
        {{"--operator", "ann", start.file}, "the update file is set by the job (job.file)"},
        {{}, operatorRequired},
        {{"--operator", ""}, operatorRequired},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args{"station", "--job", job};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const ChildResult result = RunChild(FlashwrightProgram(), args, start.Options());
        EXPECT_EQ(result.status, kExitUsage) << row.message << ": " << result.err;
        EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
    }
    // Named, the operator starts the job's station: the job's file goes to the job's slot.
    UdpSimServer device({}, "127.0.102.1");
    std::string error;
    ASSERT_TRUE(device.Start(error)) << error;
    BackgroundChild station(FlashwrightProgram(),
                            {"station", "--job", job, "--operator", "ann", "--json"},
                            start.Options());
    const std::optional<std::string> result =
        station.WaitForLine("\"event\":\"result\"", std::chrono::seconds(20));
    ASSERT_TRUE(result);
    EXPECT_NE(result->find("\"code\":0"), std::string::npos) << *result;
    station.Signal(SIGTERM);
    EXPECT_EQ(station.Wait(), 0);
}

TEST(JobFileTest, EveryKeyOfAJobIsReadAsTheEngineerWroteIt) {
    StationStart start;
    const std::string job =
        WriteJob(start, "[lot]\n",
                 "device_type = \"korvo\"\n[expect]\ndevice_id = 7\nbootloader_min = \"1.0A\"\n"
                 "[lot]\nstop_below_yield = { percent = 90, after = 50 }\n");
    const JobLoad load = LoadJob(job);
    ASSERT_TRUE(load.job) << testing::PrintToString(load.errors);
    const Job& j = *load.job;
    EXPECT_EQ(j.file, start.file);
    EXPECT_EQ(j.slotAddresses, std::vector<std::string>{"127.0.102.1"});
    ASSERT_NE(j.deviceType, nullptr);
    EXPECT_EQ(j.deviceType->name, "Korvo");
    EXPECT_EQ(j.deviceId, 7);
    ASSERT_TRUE(j.bootloaderMin);
    EXPECT_EQ(j.bootloaderMin->high * 256 + j.bootloaderMin->low, 0x010A);
    EXPECT_EQ(j.lotSize, 3);
    EXPECT_EQ(j.stopBelowYield->after, 50);
    EXPECT_TRUE(j.operatorRequired);
    EXPECT_EQ(j.hookArgv,
              (std::vector<std::string>{(start.files.Path() / "hook.sh").string(), "--label"}));
    EXPECT_EQ(j.sha256.size(), 64u);
}

namespace {

// The records of a lot, one JSON object a device.
std::map<std::string, QJsonObject> LotRecords(StationStart& start, const std::string& lot) {
    const ChildResult r = RunChild(
        FlashwrightProgram(),
        {"records", "--records", (start.files.Path() / "rec.db").string(), "--lot", lot, "--json"},
        start.Options());
    std::map<std::string, QJsonObject> records;
    for (const QByteArray& line : QByteArray::fromStdString(r.out).split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        records[o.value("device").toString().toStdString()] = o;
    }
    return records;
}

}  // namespace

// Four slots of a job: the wrong device gets no frame, a failing device and every hook's end
// are recorded; the lot goes on after a restart and ends the station when full. Failures in a
// row stop a station with status 3.
TEST(StationJobTest, ALotSurvivesARestartAndEndsTheStationWhileHooksRunBeside) {
    StationStart start;
    const std::string fourSlots = R"(slots = ["127.0.102.11", "127.0.102.12", "127.0.102.13", )"
                                  R"("127.0.102.14"])";
    const std::string job = WriteJob(start, "slots = [\"127.0.102.1\"]\n[lot]\n",
                                     fourSlots + "\n[expect]\ndevice_id = 1\n[lot]\n");
    start.files.Write("job.toml", start.files.Read("job.toml") + "timeout_seconds = 2\n");
    start.files.Write("hook.sh",
                      "#!/bin/sh\ncase $FLASHWRIGHT_DEVICE in *.12) exec sleep 30;; "
                      "*.13) exit 3;; esac\ncat > \"$0.$FLASHWRIGHT_DEVICE.json\"\n");
    std::vector<std::unique_ptr<UdpSimServer>> devices;
    SimOptions wrongId;
    wrongId.deviceId = 2;
    SimOptions signatureError;
    signatureError.defaultReply = 0x33;  // every frame: signature error
    for (const auto& [address, options] : {std::pair{"127.0.102.11", SimOptions{}},
                                           {"127.0.102.12", wrongId},
                                           {"127.0.102.13", signatureError},
                                           {"127.0.102.14", SimOptions{}}}) {
        devices.push_back(std::make_unique<UdpSimServer>(options, address));
        std::string error;
        ASSERT_TRUE(devices.back()->Start(error)) << error;
    }
    const std::string db = (start.files.Path() / "rec.db").string();
    const std::vector<std::string> args{"station", "--job",     job, "--operator",
                                        "ann",     "--records", db,  "--json"};
    ChildOptions options = start.Options();
    {
        BackgroundChild station(FlashwrightProgram(), args, options);
        for (int i = 0; i < 4; ++i) {  // the hanging hook ends at its time-out, the rest before
            ASSERT_TRUE(station.WaitForLine("\"event\":\"hook\"", std::chrono::seconds(30)));
        }
        station.Signal(SIGTERM);
        station.Wait();
    }
    const struct {
        std::string device;
        int code;
        std::string hook;
    } rows[] = {{"127.0.102.11", 0, "exit 0"},
                {"127.0.102.12", kExitWrongDevice, "killed after 2 s (timed out)"},
                {"127.0.102.13", kExitSignatureError, "exit 3"},
                {"127.0.102.14", 0, "exit 0"}};
    std::map<std::string, QJsonObject> records = LotRecords(start, "L1");
    for (const auto& row : rows) {
        const QJsonObject& r = records[row.device];
        EXPECT_EQ(r.value("result_code").toInt(), row.code) << row.device;
        EXPECT_EQ(r.value("hook").toString().toStdString(), row.hook) << row.device;
        EXPECT_EQ(r.value("job").toString(), QStringLiteral("rev C")) << row.device;
    }
    EXPECT_EQ(records["127.0.102.12"].value("frames_sent").toInt(), 0);
    EXPECT_NE(start.files.Read("hook.sh.127.0.102.11.json").find("\"lot\":\"L1\""),
              std::string::npos);
    // After the restart the lot's third pass fills it: the station ends by itself with 0.
    BackgroundChild again(FlashwrightProgram(), args, options);
    const std::optional<std::string> stopped =
        again.WaitForLine("\"event\":\"stopped\"", std::chrono::seconds(30));
    ASSERT_TRUE(stopped);
    EXPECT_NE(stopped->find("the lot is full: 3 of 3 passed"), std::string::npos) << *stopped;
    EXPECT_EQ(again.Wait(), 0);
    // Two failing devices in a row stop a lot whose rule says 2.
    const std::string failing = WriteJob(
        start, "slots = [\"127.0.102.1\"]\n[lot]\nsize = 3\nid = \"L1\"\n",
        R"(slots = ["127.0.102.12", "127.0.102.13"])"
        "\n[expect]\ndevice_id = 1\n[lot]\nid = \"L2\"\nstop_after_failures_in_a_row = 2\n");
    BackgroundChild rule(
        FlashwrightProgram(),
        {"station", "--job", failing, "--operator", "ann", "--records", db, "--json"}, options);
    const std::optional<std::string> fired =
        rule.WaitForLine("\"event\":\"stopped\"", std::chrono::seconds(30));
    ASSERT_TRUE(fired);
    EXPECT_NE(fired->find("\"rule\":\"failures-in-a-row\""), std::string::npos) << *fired;
    EXPECT_EQ(rule.Wait(), kExitStopRule);
}
