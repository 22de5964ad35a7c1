#include "pages/property_usb_ftdi.h"

#include <QProgressBar>
#include <QPushButton>
#include <array>

#include "cli/corvane_code.h"
#include "engine/link_profiles.h"
#include "log/text_format.h"
#include "pages/device_list.h"
#include "pages/state_msg_replug_prompt.h"

namespace {

constexpr int kTraceLevel = 4;
constexpr const char* kCorvane = "Corvane";
constexpr unsigned kRepaintMs = 50;
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

bool CProperty_USB_FTDI::SwitchCorvane(const std::string& name, const std::string& serial,
                                       int& index) {
    const CorvaneCodeSetting setting = ConfiguredCorvaneCode();
    bool switched = false;
    if (setting.code) {
        WaitCursor cursor(Context().ui);
        std::array<std::uint8_t, 64> answer{};
        int length = static_cast<int>(answer.size());
        const int r = link_.Send_Corvane_CMD(index, CCommunication::kEnterBootloader, *setting.code,
                                             answer.data(), &length);
        switched = r == 0 && length == 2 && answer[0] == 0x01 && answer[1] == 0x00;
    } else {
        // Without its code the device cannot be told anything; say why before asking.
        Context().log.Log(kTraceLevel, "OnButton_Program() - " + setting.source, kSourcePages);
        ShowMessage("Error: " + setting.source + "!");
    }
    if (switched) {
        Context().log.Log(kTraceLevel, "OnButton_Program() - Corvane switched in BootLoader mode",
                          kSourcePages);
        return true;
    }
    const bool goOn = Context().ui.ShowMessage(
        this, MessageBoxRequest{QStringLiteral("Error: incorrect response from device!\nIf you "
                                               "want to continue, press 'OK'."),
                                MessageIcon::Exclamation,
                                {},
                                MessageButtons::OkCancel});
    if (!goOn) {
        return false;
    }
    StateMsgReplugPrompt prompt(Context().ui);
    const int rebooted = link_.Dev_RebootTargetDevice(name, serial, prompt);
    if (rebooted < 0) {
        return false;
    }
    index = rebooted;
    // The dialogs just taken down covered the window; let it repaint before the link's pauses,
    // which take no input, hold the thread for the rest of the run.
    Context().clock.PumpWait(kRepaintMs);
    return true;
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
    int index = link_.Dev_FindDevice(name, serial);
    if (index < 0) {
        SetStepOneDone(false);
        ShowMessage("Error: device is not available!");
        return;
    }
    if (name == kCorvane) {
        if (!SwitchCorvane(name, serial, index)) {
            return;
        }
    } else {
        Logf(Context().log, kTraceLevel, kSourcePages,
             "OnButton_Program() - unknown device type (%s)", name.c_str());
    }

    WaitCursor cursor(Context().ui);
    Context().log.Log(kTraceLevel, "OnButton_Program() - waiting for BootLoader", kSourcePages);
    if (link_.Dev_Open(index, CCommunication::kBootloaderBaud) != 0) {
        cursor.Restore();
        ShowMessage("Error: selected device is in use by an other application!");
        return;
    }
    if (link_.Dev_SynchroniseBootloader(index) != 0) {
        cursor.Restore();
        link_.Dev_Close();
        ShowMessage("Error: no response from programmer!");
        return;
    }
    SendUpdate(cursor, SendStep{[this] { return link_.GetBootloaderInfo(); },
                                [this, index](const std::string& path, ProgressSink* progress) {
                                    return link_.Dev_UpdateAVR(index, path, progress);
                                },
                                [this] { link_.Dev_Close(); }, FtdiUpdateVerdicts()});
}
