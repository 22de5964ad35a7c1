#include "pages/tab_ctrl.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>
#include <array>
#include <optional>

#include "pages/dialog_units.h"
#include "pages/property_com_port.h"
#include "pages/property_network.h"
#include "pages/property_usb_ftdi.h"
#include "pages/property_usb_silabs.h"
#include "pages/version_page.h"
#include "update/link_table.h"

namespace {

template <class Page>
QWidget* MakePage(PageContext& context, QWidget* parent) {
    return new Page(context, parent);
}

QWidget* MakeVersionPage(PageContext& context, QWidget* parent) {
    return new C_Version(context.ui, parent);
}

struct Tab {
    std::optional<UpdateLink> link;  // a link's page, titled as the link table names it
    const char* text;                // the title of a page that is no link's
    QWidget* (*make)(PageContext& context, QWidget* parent);
};

// The tabs in their order, each with its page; a new link's page adds its line here.
constexpr std::array kTabs{
    Tab{UpdateLink::Serial, nullptr, MakePage<CProperty_COM_port>},
    Tab{UpdateLink::Ftdi, nullptr, MakePage<CProperty_USB_FTDI>},
    Tab{UpdateLink::UsbXpress, nullptr, MakePage<CProperty_USB_SILABS>},
    Tab{UpdateLink::Network, nullptr, MakePage<CProperty_NETWORK>},
    Tab{std::nullopt, "Version", MakeVersionPage},
};

const char* TabText(const Tab& tab) {
    return tab.link ? FindLink(*tab.link).pageTitle : tab.text;
}

}  // namespace

CTabCtrl_new::CTabCtrl_new(PageContext& context, QWidget* parent)
    : QWidget(parent), bar_(new QTabBar(this)) {
    for (const Tab& tab : kTabs) {
        pages_.push_back(tab.make(context, this));
    }
    setFont(DialogFont());
    bar_->setDrawBase(false);
    bar_->setExpanding(false);
    for (int i = 0; i < PageCount(); ++i) {
        const char* text = TabText(kTabs[static_cast<std::size_t>(i)]);
        if (bar_->insertTab(i, QString::fromLatin1(text)) != i) {
            context.ui.ShowMessage(
                this,
                MessageBoxRequest{QStringLiteral("InsertItem %1 failed").arg(QLatin1String(text)),
                                  MessageIcon::None});
        }
    }
    bar_->adjustSize();
    context.heldDuringRuns.push_back(bar_);

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
