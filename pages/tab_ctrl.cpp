#include "pages/tab_ctrl.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>

#include "pages/dialog_units.h"
#include "pages/property_com_port.h"
#include "pages/property_network.h"
#include "pages/property_usb_ftdi.h"
#include "pages/property_usb_silabs.h"
#include "pages/version_page.h"

namespace {

constexpr std::array<const char*, CTabCtrl_new::kPageCount> kTabTexts{"COM Port", "USB I", "USB II",
                                                                      "Network", "Version"};

}  // namespace

CTabCtrl_new::CTabCtrl_new(PageContext& context, QWidget* parent)
    : QWidget(parent),
      bar_(new QTabBar(this)),
      comPort_(new CProperty_COM_port(context, this)),
      usbFtdi_(new CProperty_USB_FTDI(context, this)),
      usbSilabs_(new CProperty_USB_SILABS(context, this)),
      network_(new CProperty_NETWORK(context, this)),
      version_(new C_Version(context.ui, this)) {
    setFont(DialogFont());
    bar_->setDrawBase(false);
    bar_->setExpanding(false);
    for (int i = 0; i < kPageCount; ++i) {
        if (bar_->insertTab(i, QString::fromLatin1(kTabTexts[static_cast<std::size_t>(i)])) != i) {
            context.ui.ShowMessage(
                this,
                MessageBoxRequest{QStringLiteral("InsertItem %1 failed")
                                      .arg(QLatin1String(kTabTexts[static_cast<std::size_t>(i)])),
                                  MessageIcon::None});
        }
    }
    bar_->adjustSize();
    context.heldDuringRuns.push_back(bar_);

    pages_ = {comPort_, usbFtdi_, usbSilabs_, network_, version_};
    for (QWidget* page : pages_) {
        // Every page starts hidden; the selection change shows one.
        page->setVisible(false);
        pageWidth_ = std::max(pageWidth_, page->width());
        pageHeight_ = std::max(pageHeight_, page->height());
    }

    bar_->setCurrentIndex(0);
    OnSelectionChange();
    connect(bar_, &QTabBar::currentChanged, this, [this] { OnSelectionChange(); });
    FitToPages();
}

CTabCtrl_new::~CTabCtrl_new() = default;

void CTabCtrl_new::SelectTab(int index) {
    bar_->setCurrentIndex(index);
}

void CTabCtrl_new::OnSelectionChange() {
    const int selected = bar_->currentIndex();
    if (selected == shownPage_ || selected < 0) {
        return;
    }
    QWidget* previous = pages_[static_cast<std::size_t>(shownPage_)];
    previous->setEnabled(false);
    previous->setVisible(false);
    shownPage_ = selected;
    QWidget* next = pages_[static_cast<std::size_t>(shownPage_)];
    next->setEnabled(true);
    next->setVisible(true);
}

QRect CTabCtrl_new::FrameRect() const {
    const int overlap = style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, this);
    const int top = bar_->height() - overlap;
    return QRect(0, top, width(), height() - top);
}

QRect CTabCtrl_new::DisplayArea() const {
    const int margin = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    return FrameRect().adjusted(margin, margin, -margin, -margin);
}

void CTabCtrl_new::FitToPages() {
    const QRect area = DisplayArea();
    resize(width() - area.width() + pageWidth_, height() - area.height() + pageHeight_);
    const QPoint topLeft = DisplayArea().topLeft();
    for (QWidget* page : pages_) {
        page->move(topLeft);
    }
}

void CTabCtrl_new::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    frame.rect = FrameRect();
    frame.shape = bar_->shape();
    frame.tabBarSize = bar_->size();
    frame.tabBarRect = bar_->geometry();
    frame.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    style()->drawPrimitive(QStyle::PE_FrameTabWidget, &frame, &painter, this);
}

void CTabCtrl_new::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    bar_->move(0, 0);
}
