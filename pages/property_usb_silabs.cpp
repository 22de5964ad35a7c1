#include "pages/property_usb_silabs.h"

#include <QProgressBar>
#include <QPushButton>
#include <array>

#include "links/usbxpress/usbxpress_vendor.h"
#include "pages/device_list.h"
#include "update/settings.h"
#include "update/usbxpress_update.h"

namespace {

constexpr std::array<DeviceListColumn, 3> kColumns{{{"Index", 75}, {"Name", 150}, {"Serial", 140}}};

std::unique_ptr<UsbXpressLibrary> LibraryOrDefault(std::unique_ptr<UsbXpressLibrary> library) {
    return library ? std::move(library)
                   : MakeUsbXpressLibrary(ConfiguredUsbXpressLibrary()).library;
}

}  // namespace

CProperty_USB_SILABS::CProperty_USB_SILABS(PageContext& context, QWidget* parent,
                                           std::unique_ptr<UsbXpressLibrary> library)
    : DeviceListPage(context, kColumns, parent),
      link_(context.log, context.clock, LibraryOrDefault(std::move(library))) {
    FillDeviceList();
}

CProperty_USB_SILABS::~CProperty_USB_SILABS() = default;

void CProperty_USB_SILABS::FillDeviceList() {
    Devices().clear();
    const int count = std::max(link_.Dev_GetNumDevices(), 0);  // a failure counts as none
    for (int i = 0; i < count; ++i) {
        std::string serial;
        std::string description;
        if (link_.Dev_Get_Description(i, serial, description) != 0) {
            serial.clear();
            description.clear();
        }
        Devices().AddRow({QString::number(i + 1), QString::fromStdString(description),
                          QString::fromStdString(serial)});
    }
    SetStepOneDone(Devices().SelectionMark() >= 0);
}

void CProperty_USB_SILABS::ProgramRun() {
    const int index = Devices().SelectionMark();
    if (index < 0) {
        SetStepOneDone(false);
        ShowMessage("Error: no device selected!");
        return;
    }
    std::string serial;
    std::string description;
    if (link_.Dev_Get_Description(index, serial, description) != 0) {
        SetStepOneDone(false);
        ShowMessage("Error: unable to read device description!");
        return;
    }
    PageObserver observer = Observer(nullptr);  // the state message is a dialog of its own
    observer.Report(UpdateOverUsbXpress(link_, index, description,
                                        PageFrontEnd(SyncRule::Kind::UntilCancel), observer,
                                        Context().log, Context().clock));
}
