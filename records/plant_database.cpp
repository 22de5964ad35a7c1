#include "records/plant_database.h"

#include <QSqlQuery>
#include <QUrl>
#include <QVariant>

#include "records/record_schema.h"
#include "records/sql_connection.h"

namespace {

constexpr std::string_view kScheme = "postgresql://";
constexpr int kDefaultPort = 5432;
constexpr int kMaxPort = 65535;
// A server that does not answer a connection within this long counts as unreachable.
constexpr int kConnectTimeoutS = 5;
// A server that stops answering on an open connection is noticed by TCP keepalive after about
// idle + interval * count seconds, instead of the kernel's two hours.
constexpr int kKeepaliveIdleS = 10;
constexpr int kKeepaliveIntervalS = 5;
constexpr int kKeepaliveCount = 3;
// The advisory lock stations take while one of them creates the layout.
constexpr qlonglong kLayoutLock = 0x466c617368;

constexpr const char* kCreateAttempts = R"(CREATE TABLE attempts (
    id BIGSERIAL PRIMARY KEY, uuid TEXT NOT NULL UNIQUE,
    started_utc TEXT NOT NULL, ended_utc TEXT, state TEXT NOT NULL,
    station TEXT, operator TEXT, link TEXT, device TEXT, description TEXT,
    bootloader_version TEXT, device_id INTEGER, device_name TEXT, hardware TEXT, software TEXT,
    file_name TEXT, file_size BIGINT, file_sha256 TEXT,
    frames_sent INTEGER, retries INTEGER, result_code INTEGER, message TEXT))";

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
        QStringLiteral(
            "connect_timeout=%1;keepalives_idle=%2;keepalives_interval=%3;"
            "keepalives_count=%4;application_name=flashwright;options=--client_min_messages=error")
            .arg(kConnectTimeoutS)
            .arg(kKeepaliveIdleS)
            .arg(kKeepaliveIntervalS)
            .arg(kKeepaliveCount),
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
    StoreError error = CheckLayout(write);
    if (error.status != StoreStatus::Ok) {
        connection_.reset();
    }
    return error;
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
        if (!query.exec(QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)")) ||
            !query.exec(
                QStringLiteral("INSERT INTO schema_version VALUES (%1)").arg(kSchemaVersion)) ||
            !query.exec(QString::fromUtf8(kCreateAttempts)) ||
            !query.exec(
                QStringLiteral("CREATE INDEX attempts_started ON attempts (started_utc)"))) {
            return fail(ErrorOf(query.lastError()));
        }
    } else if (tables != 2) {
        return fail({StoreStatus::Corrupt, url_.shown + " is not a records database"});
    } else {
        if (!query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) ||
            !query.next()) {
            return fail(ErrorOf(query.lastError()));
        }
        const int version = query.value(0).toInt();
        if (version > kSchemaVersion) {
            return fail({StoreStatus::NewerSchema,
                         url_.shown +
                             " was written by a later version of flashwright (records "
                             "layout " +
                             std::to_string(version) + "; this version knows layout " +
                             std::to_string(kSchemaVersion) + ")"});
        }
        if (version < kSchemaVersion) {
            return fail({StoreStatus::Corrupt, url_.shown + " is not a records database"});
        }
    }
    if (write && !db.commit()) {
        return fail(ErrorOf(db.lastError()));
    }
    return {};
}

StoreError PlantConnection::Insert(std::span<const AttemptRecord> records) {
    QSqlDatabase& db = connection_->Db();
    if (!db.transaction()) {
        return ErrorOf(db.lastError());
    }
    QSqlQuery query(db);
    // A record resent after a lost acknowledgement is there already: the uuid keeps it once.
    query.prepare(InsertRecordStatement() + QStringLiteral(" ON CONFLICT (uuid) DO NOTHING"));
    for (const AttemptRecord& record : records) {
        BindRecord(query, record);
        query.bindValue(QStringLiteral(":uuid"), QString::fromStdString(record.uuid));
        if (!query.exec()) {
            const StoreError error = ErrorOf(query.lastError());
            db.rollback();
            return error;
        }
    }
    if (!db.commit()) {
        const StoreError error = ErrorOf(db.lastError());
        db.rollback();
        return error;
    }
    return {};
}
