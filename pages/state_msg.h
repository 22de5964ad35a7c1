#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

class QLabel;
class QPushButton;

// "State Message": tells the user what to do with the device while the program waits for it,
// with a Cancel button. It is modeless: the caller shows it, keeps working on the same thread
// and looks at Cancelled() after every attempt. While it is up its owner is disabled, so the
// user can only wait or cancel. It never closes itself: Cancel only sets the flag.
class CStateMsg final : public QDialog {
  public:
    // With no owner, the window active at this moment is the owner.
    explicit CStateMsg(QWidget* owner = nullptr);
    ~CStateMsg() override;

    // Set before ShowState: whether the Cancel button is offered.
    void SetShowCancel(bool show) { showCancel_ = show; }
    // Shows the texts (the text may hold line feeds); showing again only replaces them.
    // Clears the cancelled flag. Returns 0.
    int ShowState(const QString& caption, const QString& text);
    // Enables the owner again and takes the window down. Returns 0.
    int HideState();

    bool Cancelled() const { return cancelled_; }
    bool IsShown() const { return shown_; }
    QWidget* Owner() const { return owner_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void accept() override;
    void reject() override;

  private:
    void PlaceOnOwnersScreen();

    bool showCancel_ = false;
    bool cancelled_ = false;
    bool shown_ = false;
    QPointer<QWidget> owner_;
    QPushButton* cancelButton_;
    QLabel* text_;
};
