#include <pwd.h>
#include <unistd.h>

#include <QSqlQuery>

#include "e2e_fixture.h"
#include "records/attempt_origin.h"
#include "records/record_store.h"
#include "records/sql_connection.h"

// Each value goes into one field of a record of its own: a spreadsheet must run none of them,
// a terminal must not act on them, and a result code that is not a number counts as failed.
TEST(RecordsCommandTest, HostileFieldsStayInertAndEdgesSayWhatHappened) {
    struct Hostile {
        std::string AttemptRecord::*field;
        std::string value;
        std::array<std::string, 3> shown;  // in CSV, JSON and the table; "" where not shown
    };
    const std::vector<Hostile> hostile{
        {&AttemptRecord::station, "=1+1", {",'=1+1,", "\"station\":\"=1+1\"", "  =1+1  "}},
        {&AttemptRecord::operatorName, "+A1", {",'+A1,", "\"operator\":\"+A1\"", "  +A1  "}},
        {&AttemptRecord::device, "-2+3", {",'-2+3,", "\"device\":\"-2+3\"", "  -2+3  "}},
        {&AttemptRecord::description, "@SUM(1)", {",'@SUM(1),", "\"description\":\"@SUM(1)\""}},
        {&AttemptRecord::fileName, "\tx", {",'\\tx,", "\"file_name\":\"\\tx\"", "  \\tx  "}},
        {&AttemptRecord::message, "\rx", {",'\\rx,", "\"message\":\"\\rx\"", "  \\rx\n"}},
        {&AttemptRecord::device, "\x1b]0;t\a", {",\\x1b]0;t\\x07,", "\\u001b]0;t\\u0007", "\\x1b"}},
        {&AttemptRecord::station, "\u009b2J", {",\\xc2\\x9b2J,", "\"\\u009b2J\"", "\\xc2\\x9b2J"}},
        {&AttemptRecord::resultText, "=2+2", {",'=2+2,", "\"result_code\":\"=2+2\"", "  =2+2  "}},
        {&AttemptRecord::lot, "=L1", {",'=L1,\r\n", "\"lot\":\"=L1\""}},
    };
    TempDir dir;
    const std::string db = (dir.Path() / "r.sqlite").string();
    {
        StoreError error;
        const std::unique_ptr<RecordStore> store = RecordStore::Open(db, error);
        ASSERT_NE(store, nullptr) << error.message;
        for (const Hostile& c : hostile) {
            AttemptRecord record;
            record.startedUtc = "2026-12-08T10:00:00.000Z";
            record.*c.field = c.value;
            record.resultCode = 0;
            record.state = AttemptState::Finished;
            store->Complete(store->Begin(record).value(), record);
        }
        SqlConnection connection(QString::fromStdString(db), {});
        ASSERT_TRUE(connection.Open());
        ASSERT_TRUE(QSqlQuery(connection.Db())
                        .exec("UPDATE attempts SET result_code = '=2+2' WHERE id = 9"));
    }
    const auto records = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"records", "--records", db});
        return RunChild(FlashwrightProgram(), args);
    };
    const std::array outs{records({"--csv"}).out, records({"--json"}).out, records({}).out};
    for (std::size_t i = 0; i < outs.size(); ++i) {
        EXPECT_EQ(outs[i].find_first_of("\x1b\a\t\x9b"), std::string::npos) << outs[i];
        for (const Hostile& c : hostile) {
            EXPECT_NE(outs[i].find(c.shown[i]), std::string::npos) << c.shown[i] << "\n" << outs[i];
        }
    }
    // Arguments after --records DB, exit status, lines on standard output, a part of any output.
    using Edge = std::tuple<std::vector<std::string>, int, std::size_t, std::string>;
    const std::vector<Edge> edges{
        {{"--since", "2030-01-01", "--csv"}, 0, 1, "id,started_utc,"},
        {{"--since", "2030-01-01"}, 0, 1, "ID  STARTED (UTC)  STATION  OPERATOR  LINK  DEVICE"},
        {{"--station", "=1+1", "--summary", "--csv"}, 0, 2, "2026-12-08,,1,1,0,1,1,"},
        {{"--summary", "--csv"}, 0, 2, "2026-12-08,,10,9,1,"},
        {{"--lot", "=L1", "--csv"}, 0, 2, ",'=L1,\r\n"},
        {{"--summary", "--by", "lot", "--csv"}, 0, 3, "\r\n'=L1,1,1,0,1,1,1.0000\r\n"},
        {{"--records", "mysql://line@db/r"}, 77, 0, "(postgresql:// or postgres://)"},
        {{"--records", "postgresql://line@h:99999/r"}, 77, 0, "): the port \"99999\" is not a"},
        {{"--records", db + "x"}, 66, 0, "run with --records " + db + "x makes one"},
    };
    for (const auto& [args, status, lines, part] : edges) {
        const ChildResult r = records(args);
        EXPECT_EQ(r.status, status) << r.err;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), lines) << r.out;
        EXPECT_NE((r.out + r.err).find(part), std::string::npos) << r.out << r.err;
    }
    ::unsetenv("USER");
    EXPECT_EQ(DefaultOperatorName(), ::getpwuid(::geteuid())->pw_name);
}
