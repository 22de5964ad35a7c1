#pragma once

#include <span>

#include "pages/device_list.h"
#include "pages/update_page.h"

// What the two USB pages share: step 1 is a list of the attached devices with a "Search new
// device" button; a click or a key in the list picks the device and opens step 2.
class DeviceListPage : public UpdatePage {
  public:
    DeviceListPage(PageContext& context, std::span<const DeviceListColumn> columns,
                   QWidget* parent);

    // Empties the device list and lists the attached devices again.
    virtual void FillDeviceList() = 0;

    DeviceList& Devices() { return *list_; }
    QPushButton& SearchButton() { return *search_; }

  protected:
    std::vector<QWidget*> StepOneControls() override;

  private:
    void OnListClickOrKey();

    DeviceList* list_;
    QPushButton* search_;
};
