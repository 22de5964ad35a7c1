#include "pages/property_usb_ftdi.h"

#include <QProgressBar>
#include <QPushButton>
#include <array>

#include "pages/device_list.h"
#include "update/ftdi_update.h"

namespace {

constexpr std::array<DeviceListColumn, 5> kColumns{
    {{"Index", 40}, {"Name", 130}, {"Serial", 120}, {"Hardware", 75}, {"Software", 75}}};

}  // namespace

CProperty_USB_FTDI::CProperty_USB_FTDI(PageContext& context, QWidget* parent,
                                       std::unique_ptr<FtdiLibrary> library)
    : DeviceListPage(context, kColumns, parent),
      link_(context.log, context.clock, library ? std::move(library) : MakeFtdiLibrary()) {
    FillDeviceList();
}

CProperty_USB_FTDI::~CProperty_USB_FTDI() = default;

void CProperty_USB_FTDI::FillDeviceList() {
    Devices().clear();
    if (link_.Dev_UpdateDeviceList() != 0) {
        ShowMessage("Error by getting a device list");
        return;
    }
    const int count = link_.Dev_GetDeviceCount();
    if (count < 1) {
        return;
    }
    for (int i = 0; i < count; ++i) {
        FTDI_DeviceEntry entry;
        if (link_.Dev_GetDeviceEntry(i, entry) != 0) {
            Devices().AddRow({QStringLiteral("Device Error")});
            continue;
        }
        Devices().AddRow({QString::number(i + 1), QString::fromStdString(entry.name),
                          QString::fromStdString(entry.serialNumber),
                          QString::fromStdString(entry.hardware),
                          QString::fromStdString(entry.software)});
    }
    SetStepOneDone(Devices().SelectionMark() >= 0);
}

void CProperty_USB_FTDI::ProgramRun() {
    const int mark = Devices().SelectionMark();
    if (mark < 0) {
        SetStepOneDone(false);
        ShowMessage("Error: no device selected!");
        return;
    }
    const QTreeWidgetItem* row = Devices().topLevelItem(mark);
    const std::string name = row->text(1).toStdString();
    const std::string serial = row->text(2).toStdString();
    const int index = link_.Dev_FindDevice(name, serial);
    if (index < 0) {
        SetStepOneDone(false);
        ShowMessage("Error: device is not available!");
        return;
    }
    PageObserver observer = Observer(window());
    observer.Report(UpdateOverFtdi(link_, index, name, serial,
                                   PageFrontEnd(SyncRule::Kind::SingleAttempt), observer,
                                   Context().log, Context().clock));
}
