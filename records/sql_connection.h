#pragma once

#include <QSqlDatabase>
#include <QString>

// One Qt SQL connection (SQLite by default) under a name of its own, closed and removed from Qt's
// list of connections when this ends. It belongs to the thread that made it: Qt SQL does not
// let a connection cross threads.
class SqlConnection {
  public:
    // `uri` is a file path, or a "file:" URI when `options` holds QSQLITE_OPEN_URI.
    SqlConnection(const QString& uri, const QString& options,
                  const QString& driver = QStringLiteral("QSQLITE"));
    ~SqlConnection();
    SqlConnection(const SqlConnection&) = delete;
    SqlConnection& operator=(const SqlConnection&) = delete;

    bool Open();
    QSqlDatabase& Db() { return db_; }

  private:
    QString name_;
    QSqlDatabase db_;
};

// The SQLite result code of the last error on `db` or a query (SQLITE_BUSY is 5), 0 for none.
int SqliteCode(const QString& nativeErrorCode);
inline constexpr int kSqliteBusy = 5;
inline constexpr int kSqliteLocked = 6;
inline constexpr int kSqliteCorrupt = 11;
inline constexpr int kSqliteNotADatabase = 26;
