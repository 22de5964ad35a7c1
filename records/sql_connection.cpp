#include "records/sql_connection.h"

#include <atomic>

namespace {
std::atomic<unsigned> nextConnection{0};
}

SqlConnection::SqlConnection(const QString& uri, const QString& options, const QString& driver)
    : name_(QStringLiteral("flashwright-records-%1").arg(nextConnection++)),
      db_(QSqlDatabase::addDatabase(driver, name_)) {
    db_.setDatabaseName(uri);
    db_.setConnectOptions(options);
}

SqlConnection::~SqlConnection() {
    db_.close();
    db_ = QSqlDatabase();  // the last handle goes before the connection is removed
    QSqlDatabase::removeDatabase(name_);
}

bool SqlConnection::Open() {
    return db_.open();
}

int SqliteCode(const QString& nativeErrorCode) {
    bool ok = false;
    const int code = nativeErrorCode.toInt(&ok);
    return ok ? (code & 0xFF) : 0;  // extended codes keep the primary one in the low byte
}
