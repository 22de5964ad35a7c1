#include "pages/state_msg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "pages/dialog_units.h"

CStateMsg::CStateMsg(QWidget* owner)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      owner_(owner != nullptr ? owner : QApplication::activeWindow()),
      cancelButton_(new QPushButton(QStringLiteral("Cancel"), this)),
      text_(new QLabel(QStringLiteral("Statisch"), this)) {
    setWindowTitle(QStringLiteral("State Message"));
    // Application-modal but shown without a loop of its own: it stays reachable above a modal
    // main dialog, and the caller keeps running.
    setWindowModality(Qt::ApplicationModal);
    setFont(DialogFont());
    const DialogUnits du(font());
    setFixedSize(du.Size(219, 83));
    du.Place(*text_, 7, 7, 205, 51);
    text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    text_->setWordWrap(true);
    du.Place(*cancelButton_, 162, 62, 50, 14);
    cancelButton_->setAutoDefault(false);
    connect(cancelButton_, &QPushButton::clicked, this, [this] { cancelled_ = true; });
}

CStateMsg::~CStateMsg() {
    HideState();
}

int CStateMsg::ShowState(const QString& caption, const QString& text) {
    if (!shown_) {
        PlaceOnOwnersScreen();
        if (owner_ != nullptr) {
            owner_->setEnabled(false);
        }
    }
    setWindowTitle(caption);
    text_->setText(text);
    cancelButton_->setVisible(showCancel_);
    cancelled_ = false;
    show();
    repaint();
    shown_ = true;
    return 0;
}

int CStateMsg::HideState() {
    if (owner_ != nullptr) {
        owner_->setEnabled(true);
    }
    hide();
    shown_ = false;
    return 0;
}

void CStateMsg::closeEvent(QCloseEvent* event) {
    // The title bar's close button cannot end a wait; only Cancel can.
    event->ignore();
}

void CStateMsg::accept() {}

void CStateMsg::reject() {
    // Escape stands for the Cancel button where one is offered; the dialog stays up.
    if (shown_ && showCancel_) {
        cancelled_ = true;
    }
}

void CStateMsg::PlaceOnOwnersScreen() {
    QScreen* screen = owner_ != nullptr ? owner_->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    QRect frame(QPoint(), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}
