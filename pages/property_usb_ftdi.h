#pragma once

#include "pages/update_page.h"

// The "USB I" page: devices on an FTDI USB adapter. It shows the shared steps; its device
// list and run come with the FTDI link.
class CProperty_USB_FTDI final : public UpdatePage {
  public:
    CProperty_USB_FTDI(PageContext& context, QWidget* parent);

  protected:
    void ProgramRun() override {}
    std::vector<QWidget*> StepOneControls() override { return {}; }
};
