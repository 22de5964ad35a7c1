#pragma once

#include <memory>
#include <string>

#include "pages/update_page.h"
#include "update/serial_link.h"

class QComboBox;

// The "COM Port" page: pick a serial port, a baud rate and a device type, pick an update
// file, and program the device through the serial link the page owns.
class CProperty_COM_port final : public UpdatePage {
  public:
    // Without a link of its own, the page opens real serial ports.
    CProperty_COM_port(PageContext& context, QWidget* parent,
                       std::unique_ptr<SerialLink> link = nullptr);
    ~CProperty_COM_port() override;

    // Empties the port list and lists the ports present again.
    void FillPortList();
    // The port the user picked or typed, or an empty string for none.
    std::string SelectedPort() const;

    QComboBox& PortList() { return *ports_; }
    QComboBox& BaudList() { return *bauds_; }
    QComboBox& DeviceTypeList() { return *deviceTypes_; }
    QPushButton& SearchButton() { return *search_; }

  protected:
    void ProgramRun() override;
    std::vector<QWidget*> StepOneControls() override;

  private:
    void CheckStepOne();

    std::unique_ptr<SerialLink> link_;
    QComboBox* ports_;
    QComboBox* bauds_;
    QComboBox* deviceTypes_;
    QPushButton* search_;
};
