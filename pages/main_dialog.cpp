#include "pages/main_dialog.h"

#include "pages/dialog_units.h"
#include "pages/tab_ctrl.h"
#include "pages/version_page.h"

CFlashwrightDlg::CFlashwrightDlg(PageContext& context, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      context_(context),
      tabs_(nullptr) {
    setWindowTitle(QStringLiteral("Ferrovane"));
    setWindowIcon(ProgramIcon());
    setFont(DialogFont());
    const DialogUnits du(font());
    tabs_ = new CTabCtrl_new(context, this);
    tabs_->move(du.X(7), du.Y(7));
    // The dialog keeps its template size unless the fitted tab control needs more room.
    const QSize templateSize = du.Size(351, 198);
    const QRect tabs = tabs_->geometry();
    setFixedSize(std::max(templateSize.width(), tabs.right() + 1 + du.X(7)),
                 std::max(templateSize.height(), tabs.bottom() + 1 + du.Y(7)));
}

CFlashwrightDlg::~CFlashwrightDlg() = default;

void CFlashwrightDlg::reject() {
    if (!context_.runInProgress) {
        QDialog::reject();
    }
}

void CFlashwrightDlg::accept() {
    if (!context_.runInProgress) {
        QDialog::accept();
    }
}
