#pragma once

#include <memory>
#include <string>

#include "links/communication_silabs.h"
#include "pages/update_page.h"

class DeviceList;

// The "USB II" page: lists the attached USBXpress devices and programs the chosen one through
// the SiLabs link the page owns. A Pellix-USB device is first told to start its firmware
// update; then the user power-cycles the device while the page waits for its bootloader.
class CProperty_USB_SILABS final : public UpdatePage {
  public:
    // Without a library of its own, the page uses the simulated bus when one is set, else the
    // vendor's library (or finds no device without it).
    CProperty_USB_SILABS(PageContext& context, QWidget* parent,
                         std::unique_ptr<UsbXpressLibrary> library = nullptr);
    ~CProperty_USB_SILABS() override;

    // Empties the device list and lists the attached devices again.
    void FillDeviceList();

    DeviceList& Devices() { return *list_; }
    QPushButton& SearchButton() { return *search_; }
    CSILab_USB& Link() { return link_; }

  protected:
    void ProgramRun() override;
    std::vector<QWidget*> StepOneControls() override;

  private:
    void OnListClickOrKey();

    CSILab_USB link_;
    DeviceList* list_;
    QPushButton* search_;
};
