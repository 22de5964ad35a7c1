#include "stationwindow/station_records_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cstdio>
#include <memory>

#include "cli/records_output.h"
#include "log/escaped_text.h"
#include "pages/dialog_units.h"
#include "pages/ui_services.h"
#include "records/record_reader.h"

namespace {

constexpr std::size_t kDayLength = 10;  // "YYYY-MM-DD"
constexpr int kWidthDu = 400;
constexpr int kHeightDu = 200;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

StationRecordsDialog::StationRecordsDialog(const StationWindowSession& session, UiServices& ui,
                                           QWidget* parent)
    : QDialog(parent), session_(session), ui_(ui), table_(new QTableWidget(this)) {
    setWindowTitle(QStringLiteral("Records of this session"));
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();    // the id column numbers the rows
    table_->setTabKeyNavigation(false);  // Tab goes on to the buttons; the arrows move in it
    table_->setAccessibleName(QStringLiteral("Records of this session"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* exportCsv =
        buttons->addButton(QStringLiteral("Export CSV..."), QDialogButtonBox::ActionRole);
    connect(exportCsv, &QPushButton::clicked, this, [this] { Export(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addWidget(buttons);
    resize(DialogUnits(font()).Size(kWidthDu, kHeightDu));
    Load();
}

void StationRecordsDialog::Load() {
    StoreError error;
    const std::unique_ptr<RecordReader> reader = RecordReader::Open(session_.records, error);
    const std::vector<std::string> header = RecordHeader();
    table_->setColumnCount(static_cast<int>(header.size()));
    QStringList names;
    for (const std::string& name : header) {
        names << QString::fromStdString(name);
    }
    table_->setHorizontalHeaderLabels(names);
    if (!reader) {
        ui_.ShowMessage(this, MessageBoxRequest(QString::fromStdString(
                                  "The records cannot be read: " + EscapedText(error.message))));
        return;
    }
    RecordFilter filter;
    filter.since = session_.startedUtc.substr(0, kDayLength);
    filter.sha256Prefix = session_.session.fileSha256;
    // The session's attempts: this station's, with this file, begun since the session began.
    reader->ForEach(filter, [&](std::int64_t id, const AttemptRecord& record) {
        if (record.station == session_.session.station &&
            record.startedUtc >= session_.startedUtc) {
            records_.emplace_back(id, record);
        }
    });
    table_->setRowCount(static_cast<int>(records_.size()));
    for (std::size_t row = 0; row < records_.size(); ++row) {
        const std::vector<std::string> fields =
            RecordFields(records_[row].first, records_[row].second);
        for (std::size_t column = 0; column < fields.size(); ++column) {
            table_->setItem(static_cast<int>(row), static_cast<int>(column),
                            new QTableWidgetItem(QString::fromStdString(
                                EscapedText(fields[column]))));  // the table owns its items
        }
    }
    table_->resizeColumnsToContents();
}

int StationRecordsDialog::Rows() const {
    return table_->rowCount();
}

bool StationRecordsDialog::ExportCsv(const QString& path) const {
    const std::unique_ptr<std::FILE, FileCloser> out(
        std::fopen(path.toLocal8Bit().constData(), "wb"));
    if (!out) {
        return false;
    }
    RecordsPrinter printer(out.get(), RecordsFormat::Csv);
    for (const auto& [id, record] : records_) {
        printer.Record(id, record);
    }
    printer.Finish();
    return std::ferror(out.get()) == 0;
}

void StationRecordsDialog::Export() {
    const QString path = ui_.ChooseFileToSave(
        this, FileOpenRequest{QStringLiteral("CSV files (*.csv)"), QStringLiteral("records.csv"),
                              QStringLiteral("csv")});
    if (!path.isEmpty() && !ExportCsv(path)) {
        ui_.ShowMessage(this, MessageBoxRequest(QStringLiteral("%1 cannot be written.").arg(path)));
    }
}
