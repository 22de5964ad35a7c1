#include "records/session_records_model.h"

#include <memory>

#include "log/escaped_text.h"
#include "records/record_csv.h"
#include "records/record_reader.h"

namespace {

constexpr std::size_t kDayLength = 10;  // "YYYY-MM-DD"

}  // namespace

SessionRecordsModel::SessionRecordsModel(QObject* parent)
    : QAbstractTableModel(parent), header_(RecordHeader()) {}

StoreError SessionRecordsModel::Load(const std::string& path, const SessionScope& scope) {
    beginResetModel();
    fields_.clear();
    StoreError error;
    if (const std::unique_ptr<RecordReader> reader = RecordReader::Open(path, error)) {
        RecordFilter filter;
        filter.since = scope.startedUtc.substr(0, kDayLength);
        filter.sha256Prefix = scope.fileSha256;
        reader->ForEach(filter, [&](std::int64_t id, const AttemptRecord& record) {
            if (record.station == scope.station && record.startedUtc >= scope.startedUtc) {
                fields_.push_back(RecordFields(id, record));
            }
        });
    }
    endResetModel();
    return error;
}

bool SessionRecordsModel::WriteCsv(std::FILE* out) const {
    const std::string header = CsvLine(header_);
    std::fwrite(header.data(), 1, header.size(), out);
    for (const std::vector<std::string>& fields : fields_) {
        const std::string line = CsvLine(fields);
        std::fwrite(line.data(), 1, line.size(), out);
    }
    return std::ferror(out) == 0;
}

int SessionRecordsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(fields_.size());
}

int SessionRecordsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(header_.size());
}

QVariant SessionRecordsModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid)) {
        return {};
    }
    return QString::fromStdString(EscapedText(
        fields_[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())]));
}

QVariant SessionRecordsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= columnCount()) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    return QString::fromStdString(header_[static_cast<std::size_t>(section)]);
}
