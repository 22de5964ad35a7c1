#include "pages/ui_services.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

QString ProgramTitle() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

bool QtUiServices::ShowMessage(QWidget* owner, const MessageBoxRequest& request) {
    const QMessageBox::Icon icon =
        request.icon == MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon;
    const QString caption = request.caption.isEmpty() ? ProgramTitle() : request.caption;
    const QMessageBox::StandardButtons buttons =
        request.buttons == MessageButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel
                                                    : QMessageBox::StandardButtons(QMessageBox::Ok);
    QMessageBox box(icon, caption, request.text, buttons, owner);
    return box.exec() == QMessageBox::Ok;
}

namespace {

// The absolute path the user picked in a file dialog; empty when cancelled.
QString ChooseFile(QWidget* owner, const FileOpenRequest& request, QFileDialog::FileMode fileMode,
                   QFileDialog::AcceptMode acceptMode) {
    QFileDialog dialog(owner);
    dialog.setFileMode(fileMode);
    dialog.setAcceptMode(acceptMode);
    dialog.setNameFilter(request.filter);
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.selectFile(request.initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
}

}  // namespace

QString QtUiServices::ChooseFileToOpen(QWidget* owner, const FileOpenRequest& request) {
    return ChooseFile(owner, request, QFileDialog::ExistingFile, QFileDialog::AcceptOpen);
}

QString QtUiServices::ChooseFileToSave(QWidget* owner, const FileOpenRequest& request) {
    return ChooseFile(owner, request, QFileDialog::AnyFile, QFileDialog::AcceptSave);
}

void QtUiServices::SetWaitCursor(bool on) {
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void QtUiServices::OpenUrl(const QString& url) {
    // A failure shows nothing: the address stays visible on the page to copy by hand.
    QDesktopServices::openUrl(QUrl(url));
}
