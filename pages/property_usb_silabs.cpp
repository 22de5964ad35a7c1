#include "pages/property_usb_silabs.h"

#include <QProgressBar>
#include <QPushButton>
#include <array>

#include "links/usbxpress/usbxpress_vendor.h"
#include "pages/device_list.h"
#include "pages/state_msg.h"

namespace {

constexpr const char* kPellix = "Pellix-USB";
constexpr unsigned kAfterFailedSyncMs = 10;
constexpr const char* kStartFirmwareUpdate =
    "<StartFirmwareUpdate>\n <Session>0</Session>\n <TxID>1</TxID>\n</StartFirmwareUpdate>";
constexpr std::array<DeviceListColumn, 3> kColumns{{{"Index", 75}, {"Name", 150}, {"Serial", 140}}};

const QString kSynchronisingCaption = QStringLiteral("Synchronizing device");
const QString kPowerCycleText = QStringLiteral(
    "Please switch off the power supply of the device\nand wait 5 seconds. Then switch on the "
    "power supply.\nThe device will restart and activate the bootloader!");

std::unique_ptr<UsbXpressLibrary> LibraryOrDefault(std::unique_ptr<UsbXpressLibrary> library) {
    return library ? std::move(library) : MakeUsbXpressLibrary().library;
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
    CStateMsg state;
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
    if (description == kPellix) {
        // The device's application starts its firmware update; it sends no answer.
        link_.Dev_Open(index, CSILab_USB::kBaud);
        const WaitCursor cursor(Context().ui);
        link_.Send_XML_Cmd(CSILab_USB::kXmlCommand, kStartFirmwareUpdate);
    }
    if (link_.Dev_Open(index, CSILab_USB::kBaud) != 0) {
        Context().ui.ShowMessage(
            this, MessageBoxRequest{
                      QStringLiteral("Unable to open a connection to the device!\nPlease check "
                                     "all cable."),
                      MessageIcon::None, QStringLiteral("Error")});
        return;
    }
    state.SetShowCancel(true);
    state.ShowState(kSynchronisingCaption, kPowerCycleText);
    // Each attempt dispatches events while it waits, which is how a click on Cancel arrives.
    // Every failed call is followed by such a wait as well, so however a call fails the loop
    // neither spins nor shuts Cancel out.
    while (!state.Cancelled() && link_.Dev_SynchroniseBootloader() != 0) {
        Context().clock.PumpWait(kAfterFailedSyncMs);
    }
    state.HideState();
    if (state.Cancelled()) {
        return;  // the link stays open until the next open
    }

    WaitCursor cursor(Context().ui);
    SendStep send{[this] { return link_.GetBootloaderInfo(); },
                  [this](const std::string& path, ProgressSink* progress) {
                      return link_.Dev_UpdateAVR(path, progress);
                  },
                  [this] { link_.Dev_Close(); }, SilabsUpdateVerdicts()};
    SendUpdate(cursor, send);
}
