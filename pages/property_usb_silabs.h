#pragma once

#include "pages/update_page.h"

// The "USB II" page: USBXpress devices. It shows the shared steps; its device list and run
// come with the USBXpress link.
class CProperty_USB_SILABS final : public UpdatePage {
  public:
    CProperty_USB_SILABS(PageContext& context, QWidget* parent);

  protected:
    void ProgramRun() override {}
    std::vector<QWidget*> StepOneControls() override { return {}; }
};
