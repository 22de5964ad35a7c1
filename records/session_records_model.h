#pragma once

#include <QAbstractTableModel>

#include <cstdio>
#include <string>
#include <vector>

#include "records/store_status.h"

// Which attempts are a station session's: this station's, with this file, begun since the
// session began.
struct SessionScope {
    std::string station;
    std::string fileSha256;
    std::string startedUtc;  // as the records write it, so that it compares as text
};

// A station session's attempts as a table, one row an attempt, in the columns of
// "flashwright records --csv" (records/record_csv). Its cells are escaped for a screen.
class SessionRecordsModel final : public QAbstractTableModel {
  public:
    explicit SessionRecordsModel(QObject* parent = nullptr);

    // Reads the session's attempts from the records database at `path` (a file or a plant
    // database URL) in place of those it held; its error when the records cannot be read.
    StoreError Load(const std::string& path, const SessionScope& scope);
    // Writes the rows as "flashwright records --csv" does: the header, then each attempt.
    // False when the writing failed.
    bool WriteCsv(std::FILE* out) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    const std::vector<std::string> header_;
    std::vector<std::vector<std::string>> fields_;  // the attempts' CSV fields, row by row
};
