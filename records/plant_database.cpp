#include "records/plant_database.h"

#include <QSqlQuery>
#include <QUrl>
#include <QVariant>

#include "records/record_schema.h"
#include "records/records_layout.h"
#include "records/sql_connection.h"

#include <libpq-fe.h>

#include <QSqlDriver>

namespace {

constexpr std::string_view kScheme = "postgresql://";
constexpr int kDefaultPort = 5432;
constexpr int kMaxPort = 65535;
// A server that stops answering on an idle connection is noticed by TCP keepalive after about
// idle + interval * count seconds, instead of the kernel's two hours; data sent and not
// acknowledged ends the connection after kPlantAnswerLimit (tcp_user_timeout).
constexpr int kKeepaliveIdleS = 10;
constexpr int kKeepaliveIntervalS = 5;
constexpr int kKeepaliveCount = 3;
// The plant database's layout: the records' columns without what only the local store keeps
// (which plant database an attempt is meant for, its revision). Its versions follow the local
// store's for the record's columns: 2 holds those of layout 1, 4 adds the job's (there is no
// plant layout 3).
constexpr int kPlantFirstLayout = 2;
constexpr int kPlantLayout = kJobLayout;
// The advisory lock stations take while one of them creates the layout.
constexpr qlonglong kLayoutLock = 0x466c617368;

// Between the id and the record's columns: each attempt's unique id, which a record sent again
// is known by.
constexpr std::array<LayoutColumn, 1> kPlantLeading{{{"uuid", SqlType::Text, "NOT NULL UNIQUE"}}};

// The first line of libpq's message, without the server's address (the URL says it) and the
// severity.
std::string Cleaned(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    if (const std::size_t at = line.find(" failed: ");
        line.starts_with("connection to server") && at != std::string::npos) {
        line.erase(0, at + 9);
    }
    for (const std::string_view severity : {"FATAL:  ", "ERROR:  "}) {
        if (line.starts_with(severity)) {
            line.erase(0, severity.size());
        }
    }
    return line.empty() ? text : line;
}

bool Contains(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

// What keeps `text` from being a plant database URL, empty when nothing does. A URL that
// cannot be parsed has no parts to show, so the reason names the part that is wrong.
std::string PlantUrlProblem(const std::string& text, const QUrl& parsed) {
    if (!parsed.isValid()) {
        // The port: what follows the host (after any user and an IPv6 address's brackets).
        const std::string authority = text.substr(0, text.find('/', text.find("://") + 3));
        const std::string host = authority.substr(authority.rfind('@') + 1);
        const std::size_t bracket = host.find(']');
        const std::size_t colon = host.find(':', bracket == std::string::npos ? 0 : bracket);
        if (colon != std::string::npos) {
            const std::string port = host.substr(colon + 1);
            const bool number = !port.empty() && port.size() <= 5 &&
                                port.find_first_not_of("0123456789") == std::string::npos &&
                                std::stoi(port) >= 1 && std::stoi(port) <= kMaxPort;
            if (!number) {
                return "the port \"" + port + "\" is not a number from 1 to " +
                       std::to_string(kMaxPort);
            }
        }
        return "it is not a well-formed URL";
    }
    const QString database = parsed.path().mid(1);
    if (parsed.host().isEmpty()) {
        return "the host is missing";
    }
    if (database.isEmpty()) {
        return "the database's name is missing after the host";
    }
    if (database.contains('/')) {
        return "the database's name \"" + database.toStdString() + "\" holds a /";
    }
    if (parsed.hasQuery() || parsed.hasFragment()) {
        return "a query (?...) or fragment (#...) is not taken";
    }
    return {};
}

}  // namespace

bool IsPlantUrl(std::string_view records) {
    return records.starts_with(kScheme) || records.starts_with("postgres://");
}

bool ParsePlantUrl(const std::string& text, PlantUrl& url, std::string& error) {
    const QUrl parsed(QString::fromStdString(text), QUrl::StrictMode);
    const QString database = parsed.path().mid(1);
    const std::string problem = PlantUrlProblem(text, parsed);
    if (!problem.empty()) {
        error = "not a plant database URL (postgresql://user@host:port/database): " + problem;
        return false;
    }
    url.user = parsed.userName().toStdString();
    url.password = parsed.password().toStdString();
    url.host = parsed.host().toStdString();
    url.port = parsed.port(kDefaultPort);
    url.database = database.toStdString();
    url.shown = "postgresql://" + (url.user.empty() ? "" : url.user + "@") + url.host + ":" +
                std::to_string(url.port) + "/" + url.database;
    return true;
}

PlantConnection::PlantConnection(const PlantUrl& url) : url_(url) {}

PlantConnection::~PlantConnection() = default;

QSqlDatabase& PlantConnection::Db() {
    return connection_->Db();
}

void PlantConnection::Close() {
    watchdog_.Watch(-1);  // before the socket closes and its number can be taken again
    connection_.reset();
}

StoreError PlantConnection::ErrorOf(const QSqlError& error) const {
    const std::string text = Cleaned(error.databaseText().toStdString());
    const std::string code = error.nativeErrorCode().toStdString();
    // SQLSTATE class 28 is a refused login, 3D a database that does not exist, 42501 a missing
    // privilege; at connection time libpq gives only the text.
    if (code.starts_with("28") || Contains(text, "authentication failed") ||
        Contains(text, "no password supplied") || Contains(text, "pg_hba.conf")) {
        return {StoreStatus::Refused, "the plant database " + url_.shown +
                                          " refused the login: " + text +
                                          " (the password comes from ~/.pgpass or PGPASSWORD)"};
    }
    if (code.starts_with("3D") || code == "42501" || Contains(text, "does not exist") ||
        Contains(text, "permission denied")) {
        return {StoreStatus::Refused, "the plant database " + url_.shown + " refused: " + text};
    }
    if (!connection_ || !connection_->Db().isOpen() || code.starts_with("08") ||
        code.starts_with("57") || Contains(text, "server closed") || Contains(text, "connection") ||
        text.empty()) {
        return {StoreStatus::Unreachable, "the plant database " + url_.shown + " is unreachable: " +
                                              (text.empty() ? error.text().toStdString() : text)};
    }
    return {StoreStatus::Unwritable, "the plant database " + url_.shown + ": " + text};
}

StoreError PlantConnection::Open(bool write) {
    // client_min_messages=error: libpq prints the server's notices and warnings (one comes when
    // the server shuts down) on standard error, across the station's board; errors come back
    // through the calls anyway.
    connection_ = std::make_unique<SqlConnection>(
        QString::fromStdString(url_.database),
        QStringLiteral("connect_timeout=%1;keepalives_idle=%2;keepalives_interval=%3;"
                       "keepalives_count=%4;tcp_user_timeout=%5;application_name=flashwright;"
                       "options='--client_min_messages=error%6'")
            .arg(kPlantConnectLimit.count())
            .arg(kKeepaliveIdleS)
            .arg(kKeepaliveIntervalS)
            .arg(kKeepaliveCount)
            .arg(kPlantAnswerLimit.count())
            // A writer's statements are short; a reader's may read the whole plant.
            .arg(write
                     ? QStringLiteral(" --statement_timeout=%1").arg(kPlantStatementTimeout.count())
                     : QString()),
        QStringLiteral("QPSQL"));
    QSqlDatabase& db = connection_->Db();
    if (!db.isValid()) {
        connection_.reset();
        return {StoreStatus::Refused, "the plant database " + url_.shown +
                                          " cannot be used: Qt SQL's PostgreSQL driver is not "
                                          "installed (libqt6sql6-psql)"};
    }
    db.setHostName(QString::fromStdString(url_.host));
    db.setPort(url_.port);
    if (!url_.user.empty()) {
        db.setUserName(QString::fromStdString(url_.user));
    }
    if (!url_.password.empty()) {
        db.setPassword(QString::fromStdString(url_.password));
    }
    if (!connection_->Open()) {
        StoreError error = ErrorOf(db.lastError());
        connection_.reset();
        return error;
    }
    const QVariant handle = db.driver()->handle();
    // Qt SQL names the type by libpq's struct: PGconn is a typedef of pg_conn.
    if (handle.isValid() && (qstrcmp(handle.typeName(), "pg_conn*") == 0 ||
                             qstrcmp(handle.typeName(), "PGconn*") == 0)) {
        watchdog_.Watch(PQsocket(*static_cast<PGconn* const*>(handle.data())));
    }
    watchdog_.Arm(kPlantAnswerLimit);
    StoreError error = CheckLayout(write);
    watchdog_.Disarm();
    if (error.status != StoreStatus::Ok) {
        error = watchdog_.Fired() ? FailureOf({}) : error;
        Close();
    }
    return error;
}

void PlantConnection::Abort() {
    watchdog_.Abort();
}

StoreError PlantConnection::FailureOf(const QSqlError& error) const {
    if (watchdog_.Fired()) {
        return {StoreStatus::Unreachable,
                "the plant database " + url_.shown + " is unreachable: it did not answer within " +
                    std::to_string(kPlantAnswerLimit.count() / 1000) + " s"};
    }
    return ErrorOf(error);
}

StoreError PlantConnection::CheckLayout(bool write) {
    QSqlDatabase& db = connection_->Db();
    QSqlQuery query(db);
    if (!write && !query.exec(QStringLiteral("SET default_transaction_read_only = on"))) {
        return ErrorOf(query.lastError());
    }
    // Stations that start together make the layout once: the first takes the lock and makes
    // it, the others wait and find it.
    if (write &&
        (!db.transaction() ||
         !query.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kLayoutLock)))) {
        const StoreError error = ErrorOf(query.lastError());
        db.rollback();
        return error;
    }
    auto fail = [&](StoreError error) {
        if (write) {
            db.rollback();
        }
        return error;
    };
    if (!query.exec(
            QStringLiteral("SELECT table_name FROM information_schema.tables WHERE table_schema = "
                           "current_schema() AND table_name IN ('schema_version', 'attempts')"))) {
        return fail(ErrorOf(query.lastError()));
    }
    int tables = 0;
    while (query.next()) {
        ++tables;
    }
    if (tables == 0 && !write) {
        return {StoreStatus::Missing, "the plant database " + url_.shown + " holds no records"};
    }
    if (tables == 0) {
        if (!CreateLayout(query, kPostgresDialect, kPlantLeading, kPlantFirstLayout) ||
            !AddLayoutStep(query, kPostgresDialect, kJobLayoutStep)) {
            return fail(ErrorOf(query.lastError()));
        }
        layout_ = kPlantLayout;
    } else if (tables != 2) {
        return fail(NotRecords(url_.shown));
    } else {
        if (!query.exec(QString::fromLatin1(kReadLayoutVersion)) || !query.next()) {
            return fail(ErrorOf(query.lastError()));
        }
        const int version = query.value(0).toInt();
        if (StoreError later = LaterLayout(url_.shown, version, kPlantLayout);
            later.status != StoreStatus::Ok) {
            return fail(later);
        }
        if (version < kPlantFirstLayout) {
            return fail(NotRecords(url_.shown));
        }
        layout_ = version;
        // A writer takes an earlier layout to this one, under the lock; a reader reads it as
        // it is.
        if (write && version < kPlantLayout) {
            if (!AddLayoutStep(query, kPostgresDialect, kJobLayoutStep)) {
                return fail(ErrorOf(query.lastError()));
            }
            layout_ = kPlantLayout;
        }
    }
    if (write && !db.commit()) {
        return fail(ErrorOf(db.lastError()));
    }
    return {};
}

StoreError PlantConnection::Insert(std::span<const AttemptRecord> records) {
    QSqlDatabase& db = connection_->Db();
    watchdog_.Arm(kPlantAnswerLimit);
    const StoreError error = [&]() -> StoreError {
        if (!db.transaction()) {
            return FailureOf(db.lastError());
        }
        QSqlQuery query(db);
        // A record sent again keeps one row by its uuid, in the state sent last: a record
        // resent after a lost acknowledgement, or one that changed after it was sent.
        QString latest;
        for (const std::string_view column : kRecordColumns) {
            const QString name = QString::fromLatin1(column.data(), column.size());
            latest += (latest.isEmpty() ? "" : ", ") + name + " = EXCLUDED." + name;
        }
        query.prepare(InsertRecordStatement() +
                      QStringLiteral(" ON CONFLICT (uuid) DO UPDATE SET ") + latest);
        for (const AttemptRecord& record : records) {
            BindRecord(query, record);
            query.bindValue(QStringLiteral(":uuid"), QString::fromStdString(record.uuid));
            if (!query.exec()) {
                const StoreError failed = FailureOf(query.lastError());
                db.rollback();
                return failed;
            }
        }
        if (!db.commit()) {
            const StoreError failed = FailureOf(db.lastError());
            db.rollback();
            return failed;
        }
        return {};
    }();
    watchdog_.Disarm();
    return error;
}
