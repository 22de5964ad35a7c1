#pragma once

#include <chrono>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include <QSqlDatabase>
#include <QSqlError>

#include "records/attempt_record.h"
#include "records/plant_watchdog.h"
#include "records/store_status.h"

class SqlConnection;

// A plant database server that does not complete a connection within this long counts as
// unreachable (libpq's connect_timeout: a connection cannot be aborted before it completes).
inline constexpr std::chrono::seconds kPlantConnectLimit{3};
// The server ends a statement that runs longer (one waiting for a lock another session holds).
inline constexpr std::chrono::milliseconds kPlantStatementTimeout{5000};
// A call whose answer has not come this long after it was sent is aborted: the server or the
// network stopped answering.
inline constexpr std::chrono::milliseconds kPlantAnswerLimit{7000};

// Where a plant database is: postgresql://[user[:password]@]host[:port]/database. A missing
// user or password is left to libpq, which takes the user's login name, ~/.pgpass and
// PGPASSWORD.
struct PlantUrl {
    std::string user;
    std::string password;
    std::string host;
    int port = 5432;
    std::string database;
    std::string shown;  // the URL without the password, for messages
};

// Whether a --records value names a plant database rather than an SQLite file.
bool IsPlantUrl(std::string_view records);
// Reads a plant database URL; false, with `error` set, when it is not one.
bool ParsePlantUrl(const std::string& text, PlantUrl& url, std::string& error);

// One connection to a plant database, through Qt SQL's PostgreSQL driver. It belongs to the
// thread that made it.
class PlantConnection {
  public:
    explicit PlantConnection(const PlantUrl& url);
    ~PlantConnection();
    PlantConnection(const PlantConnection&) = delete;
    PlantConnection& operator=(const PlantConnection&) = delete;

    // Connects and checks the layout. For writing (`write`) a database without the records'
    // tables gets them; for reading the session is read-only and a database without them is
    // Missing. Refused: the server refused the login; Unreachable: no server answered.
    StoreError Open(bool write);
    void Close();
    // Writes the attempts in one transaction; Ok once the server has committed it. An attempt
    // the database holds already (by its uuid) takes the state sent, its latest.
    StoreError Insert(std::span<const AttemptRecord> records);
    // From any thread: ends the call running now, and every later one, at once (Unreachable).
    void Abort();

    QSqlDatabase& Db();
    // What a failed call stands for, with the database in its message.
    StoreError ErrorOf(const QSqlError& error) const;
    const PlantUrl& Url() const { return url_; }
    // The version of the layout found when it opened (a reader reads an earlier one as it is).
    int Layout() const { return layout_; }

  private:
    StoreError CheckLayout(bool write);
    // The error of a failed call: a call the watchdog ended did not get its answer in time.
    StoreError FailureOf(const QSqlError& error) const;

    const PlantUrl url_;
    std::unique_ptr<SqlConnection> connection_;
    PlantWatchdog watchdog_;
    int layout_ = 0;
};
