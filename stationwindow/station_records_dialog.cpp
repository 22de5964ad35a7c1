#include "stationwindow/station_records_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <cstdio>
#include <memory>

#include "log/escaped_text.h"
#include "pages/dialog_units.h"
#include "pages/ui_services.h"
#include "records/session_records_model.h"

namespace {

constexpr int kWidthDu = 400;
constexpr int kHeightDu = 200;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

StationRecordsDialog::StationRecordsDialog(const StationWindowSession& session, UiServices& ui,
                                           QWidget* parent)
    : QDialog(parent),
      ui_(ui),
      records_(new SessionRecordsModel(this)),
      table_(new QTableView(this)) {
    setWindowTitle(QStringLiteral("Records of this session"));
    table_->setModel(records_);
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
    Load(session);
}

void StationRecordsDialog::Load(const StationWindowSession& session) {
    const StoreError error = records_->Load(
        session.records, {session.session.station, session.session.fileSha256, session.startedUtc});
    if (error.status != StoreStatus::Ok) {
        ui_.ShowMessage(this, MessageBoxRequest(QString::fromStdString(
                                  "The records cannot be read: " + EscapedText(error.message))));
        return;
    }
    table_->resizeColumnsToContents();
}

int StationRecordsDialog::Rows() const {
    return records_->rowCount();
}

bool StationRecordsDialog::ExportCsv(const QString& path) const {
    const std::unique_ptr<std::FILE, FileCloser> out(
        std::fopen(path.toLocal8Bit().constData(), "wb"));
    if (!out) {
        return false;
    }
    return records_->WriteCsv(out.get());
}

void StationRecordsDialog::Export() {
    const QString path = ui_.ChooseFileToSave(
        this, FileOpenRequest{QStringLiteral("CSV files (*.csv)"), QStringLiteral("records.csv"),
                              QStringLiteral("csv")});
    if (!path.isEmpty() && !ExportCsv(path)) {
        ui_.ShowMessage(this, MessageBoxRequest(QStringLiteral("%1 cannot be written.").arg(path)));
    }
}
