#pragma once

#include <QDialog>

#include "station/station_window_hook.h"

class QTableView;
class SessionRecordsModel;
class UiServices;

// The attempts of this station's session, read from its records database when opened, in a
// table, with an export as CSV (the columns of "flashwright records --csv").
class StationRecordsDialog final : public QDialog {
    Q_OBJECT
  public:
    StationRecordsDialog(const StationWindowSession& session, UiServices& ui,
                         QWidget* parent = nullptr);

    int Rows() const;
    // Writes the records shown to `path`; false when it cannot be written.
    bool ExportCsv(const QString& path) const;

  private:
    void Load(const StationWindowSession& session);
    void Export();

    UiServices& ui_;
    SessionRecordsModel* records_;
    QTableView* table_;
};
