#pragma once

#include <memory>
#include <string>

#include "links/usbxpress/communication_silabs.h"
#include "pages/device_list_page.h"

// The "USB II" page: lists the attached USBXpress devices and programs the chosen one through
// the SiLabs link the page owns. A Pellix-USB device is first told to start its firmware
// update; then the user power-cycles the device while the page waits for its bootloader.
class CProperty_USB_SILABS final : public DeviceListPage {
  public:
    // Without a library of its own, the page uses the simulated bus when one is set, else the
    // vendor's library (or finds no device without it).
    CProperty_USB_SILABS(PageContext& context, QWidget* parent,
                         std::unique_ptr<UsbXpressLibrary> library = nullptr);
    ~CProperty_USB_SILABS() override;

    void FillDeviceList() override;

    CSILab_USB& Link() { return link_; }

  protected:
    void ProgramRun() override;

  private:
    CSILab_USB link_;
};
