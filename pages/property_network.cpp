#include "pages/property_network.h"

#include <QComboBox>
#include <QLabel>

#include "engine/device_types.h"
#include "log/text_format.h"
#include "pages/ip_address_edit.h"
#include "update/network_update.h"

CProperty_NETWORK::CProperty_NETWORK(PageContext& context, QWidget* parent,
                                     std::unique_ptr<NetworkLink> link)
    : UpdatePage(
          context,
          StepOneFrame{QStringLiteral("1. Select device for update"), QRect(6, 12, 318, 42), 66},
          parent),
      link_(link ? std::move(link) : MakeNetworkLink(context.log, context.clock)),
      address_(new IpAddressEdit(this)),
      deviceTypes_(new QComboBox(this)) {
    const DialogUnits& du = Units();
    du.Place(*new QLabel(QStringLiteral("IP address:"), this), 23, 32, 36, 8);
    du.Place(*address_, 83, 30, 100, 12);
    du.Place(*new QLabel(QStringLiteral("Device type:"), this), 198, 32, 41, 8);
    du.Place(*deviceTypes_, 246, 30, 72, 12);

    FillDeviceTypeList(*deviceTypes_, UpdateLink::Network);

    connect(address_, &IpAddressEdit::fieldChanged, this, [this] { CheckAddress(); });
    OrderTabStops();
}

CProperty_NETWORK::~CProperty_NETWORK() = default;

std::string CProperty_NETWORK::AddressText() const {
    const auto n = address_->Numbers();
    return StrPrintf("%i.%i.%i.%i", n[0], n[1], n[2], n[3]);
}

void CProperty_NETWORK::CheckAddress() {
    // Every field must hold a number, and 0.0.0.0 names no device. A blank field is missing,
    // not 0: addresses such as 10.0.0.7 and 127.0.0.1 are real.
    bool complete = true;
    bool allZero = true;
    for (int i = 0; i < IpAddressEdit::kFieldCount; ++i) {
        const std::optional<int> field = address_->Field(i);
        complete = complete && field.has_value();
        allZero = allZero && field.value_or(0) == 0;
    }
    SetStepOneDone(complete && !allZero);
}

std::vector<QWidget*> CProperty_NETWORK::StepOneControls() {
    return {address_, deviceTypes_};
}

void CProperty_NETWORK::ProgramRun() {
    const std::string address = AddressText();

    PageObserver observer = Observer(window());
    observer.Report(UpdateOverNetwork(
        *link_, address, PickedDeviceType(*deviceTypes_, UpdateLink::Network),
        PageFrontEnd(SyncRule::Kind::UntilCancel), observer, Context().log, Context().clock));
}
