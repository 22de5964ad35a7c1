#pragma once

#include <QDialog>

#include "pages/page_context.h"

class CTabCtrl_new;

// The main dialog "Ferrovane": a fixed-size window whose only control is the tab control
// with the five pages. Closing it ends the program.
class CFlashwrightDlg final : public QDialog {
  public:
    CFlashwrightDlg(PageContext& context, QWidget* parent = nullptr);
    ~CFlashwrightDlg() override;

    CTabCtrl_new& Tabs() { return *tabs_; }

  public:
    // Closing is refused while a programming run is under way: the run's waits dispatch the
    // close, and the dialog would vanish with the run still going.
    void reject() override;
    void accept() override;

  private:
    PageContext& context_;
    CTabCtrl_new* tabs_;
};
