#pragma once

#include <QWidget>
#include <array>

#include "pages/page_context.h"

class QTabBar;
class CProperty_COM_port;
class CProperty_USB_FTDI;
class CProperty_USB_SILABS;
class CProperty_NETWORK;
class C_Version;

// The main dialog's tab control: five tabs over a display area that holds the five pages,
// one shown at a time. The page switched away from is hidden and disabled. The control sizes
// itself so that the largest page fits its display area.
class CTabCtrl_new final : public QWidget {
  public:
    static constexpr int kPageCount = 5;

    CTabCtrl_new(PageContext& context, QWidget* parent);
    ~CTabCtrl_new() override;

    // Selects a tab as a click on it does.
    void SelectTab(int index);
    int ShownPage() const { return shownPage_; }
    QWidget* Page(int index) const { return pages_[static_cast<std::size_t>(index)]; }
    QTabBar& Bar() { return *bar_; }
    // Where the pages lie, in the control's coordinates.
    QRect DisplayArea() const;

    CProperty_COM_port& ComPortPage() { return *comPort_; }
    CProperty_USB_FTDI& UsbFtdiPage() { return *usbFtdi_; }
    CProperty_USB_SILABS& UsbSilabsPage() { return *usbSilabs_; }
    CProperty_NETWORK& NetworkPage() { return *network_; }
    C_Version& VersionPage() { return *version_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void OnSelectionChange();
    void FitToPages();
    QRect FrameRect() const;

    QTabBar* bar_;
    int shownPage_ = 1;
    int pageWidth_ = 0;
    int pageHeight_ = 0;
    CProperty_COM_port* comPort_;
    CProperty_USB_FTDI* usbFtdi_;
    CProperty_USB_SILABS* usbSilabs_;
    CProperty_NETWORK* network_;
    C_Version* version_;
    std::array<QWidget*, kPageCount> pages_{};
};
