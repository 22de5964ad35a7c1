#pragma once

#include <QLabel>
#include <QString>
#include <QWidget>

#include "pages/ui_services.h"

// A static text that reports a left click, for the web addresses of the version page.
class ClickableLabel final : public QLabel {
    Q_OBJECT

  public:
    using QLabel::QLabel;

  signals:
    void clicked();

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// The "Version" page: the program's version and date, the logo, and two web addresses that
// open in the browser when clicked.
class C_Version final : public QWidget {
  public:
    static constexpr const char* kHomePage = "https://www.flashwright.example/";
    static constexpr const char* kDocumentation = "https://docs.flashwright.example/";

    C_Version(UiServices& ui, QWidget* parent);

    QLabel& VersionText() { return *version_; }
    ClickableLabel& HomePageLink() { return *homePage_; }
    ClickableLabel& DocumentationLink() { return *documentation_; }
    QLabel& Picture() { return *picture_; }

  private:
    QLabel* version_;
    ClickableLabel* homePage_;
    ClickableLabel* documentation_;
    QLabel* picture_;
};

// The program's logo, a wide picture with its name.
QPixmap LogoPixmap();
// The program's icon.
QIcon ProgramIcon();
