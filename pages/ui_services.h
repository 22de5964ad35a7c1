#pragma once

#include <QString>
#include <utility>

class QWidget;

enum class MessageIcon { Exclamation, None };
enum class MessageButtons { Ok, OkCancel };

struct MessageBoxRequest {
    explicit MessageBoxRequest(QString message, MessageIcon kind = MessageIcon::Exclamation,
                               QString title = {}, MessageButtons choice = MessageButtons::Ok)
        : text(std::move(message)), icon(kind), caption(std::move(title)), buttons(choice) {}

    QString text;
    MessageIcon icon = MessageIcon::Exclamation;
    // Empty: the program file's name without its extension.
    QString caption;
    MessageButtons buttons = MessageButtons::Ok;
};

struct FileOpenRequest {
    QString filter;         // "Name (*.ext)"
    QString initialName;    // shown in the name field at first
    QString defaultSuffix;  // added to a typed name that has none
};

// The desktop services the pages reach through one seam: the message box, the file-open
// dialog, the wait cursor and the browser. Tests put recording fakes in their place, so no
// test ever waits on a modal window.
class UiServices {
  public:
    virtual ~UiServices() = default;

    // A message box with an OK button (and Cancel when asked); returns when the user has
    // closed it: true when with OK.
    virtual bool ShowMessage(QWidget* owner, const MessageBoxRequest& request) = 0;
    // The full path of an existing file the user chose, or an empty string.
    virtual QString ChooseFileToOpen(QWidget* owner, const FileOpenRequest& request) = 0;
    // The full path of a file to write that the user chose, or an empty string.
    virtual QString ChooseFileToSave(QWidget* owner, const FileOpenRequest& request) = 0;
    virtual void SetWaitCursor(bool on) = 0;
    virtual void OpenUrl(const QString& url) = 0;
};

// The real services, on Qt's standard dialogs.
class QtUiServices final : public UiServices {
  public:
    bool ShowMessage(QWidget* owner, const MessageBoxRequest& request) override;
    QString ChooseFileToOpen(QWidget* owner, const FileOpenRequest& request) override;
    QString ChooseFileToSave(QWidget* owner, const FileOpenRequest& request) override;
    void SetWaitCursor(bool on) override;
    void OpenUrl(const QString& url) override;
};

// The program file's name without its extension: the caption of the message boxes.
QString ProgramTitle();

// Shows the wait cursor for its lifetime, or until Restore.
class WaitCursor {
  public:
    explicit WaitCursor(UiServices& ui) : ui_(&ui) { ui_->SetWaitCursor(true); }
    ~WaitCursor() { Restore(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

    void Restore() {
        if (ui_ != nullptr) {
            ui_->SetWaitCursor(false);
            ui_ = nullptr;
        }
    }

  private:
    UiServices* ui_;
};
