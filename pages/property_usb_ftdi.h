#pragma once

#include <memory>
#include <string>

#include "links/ftdi/communication_ftdi.h"
#include "pages/device_list_page.h"

// The "USB I" page: lists the attached FTDI devices (with a Corvane device's versions), and
// programs the chosen one through the FTDI link the page owns. A Corvane device is first told
// to start its bootloader; when it does not answer as it should, the user may power-cycle it,
// guided by the link.
class CProperty_USB_FTDI final : public DeviceListPage {
  public:
    // Without a library of its own, the page uses the simulated bus when one is set, else the
    // real adapters.
    CProperty_USB_FTDI(PageContext& context, QWidget* parent,
                       std::unique_ptr<FtdiLibrary> library = nullptr);
    ~CProperty_USB_FTDI() override;

    void FillDeviceList() override;

    CCommunication& Link() { return link_; }

  protected:
    void ProgramRun() override;

  private:
    // Tells a Corvane device to start its bootloader, or guides the user through restarting
    // it; false when the run ends here. `index` becomes the device's index afterwards.

    CCommunication link_;
};
