#include "pages/device_list_page.h"

#include <QProgressBar>
#include <QPushButton>

DeviceListPage::DeviceListPage(PageContext& context, std::span<const DeviceListColumn> columns,
                               QWidget* parent)
    : UpdatePage(context, DeviceListFrame(), parent),
      list_(new DeviceList(columns, this)),
      search_(new QPushButton(QStringLiteral("Search new device"), this)) {
    Units().Place(*list_, 18, 18, 300, 36);
    Units().Place(*search_, 246, 54, 72, 12);
    MakePlainButton(*search_);
    list_->SetClickOrKeyHandler([this] { OnListClickOrKey(); });
    connect(search_, &QPushButton::clicked, this, [this] { FillDeviceList(); });
    OrderTabStops();
}

void DeviceListPage::OnListClickOrKey() {
    Progress().setValue(0);
    SetStepOneDone(list_->SelectionMark() >= 0);
}

std::vector<QWidget*> DeviceListPage::StepOneControls() {
    return {list_, search_};
}
