#pragma once

#include <memory>
#include <string>

#include "pages/update_page.h"
#include "update/network_link.h"

class QComboBox;
class IpAddressEdit;

// The "Network" page: type the device's IPv4 address, pick a device type, pick an update
// file, and program the device through the network link the page owns.
class CProperty_NETWORK final : public UpdatePage {
  public:
    // Without a link of its own, the page uses the network.
    CProperty_NETWORK(PageContext& context, QWidget* parent,
                      std::unique_ptr<NetworkLink> link = nullptr);
    ~CProperty_NETWORK() override;

    // The address as the run sends it: the four numbers, a blank field as 0.
    std::string AddressText() const;

    IpAddressEdit& AddressEdit() { return *address_; }
    QComboBox& DeviceTypeList() { return *deviceTypes_; }

  protected:
    void ProgramRun() override;
    std::vector<QWidget*> StepOneControls() override;

  private:
    void CheckAddress();

    std::unique_ptr<NetworkLink> link_;
    IpAddressEdit* address_;
    QComboBox* deviceTypes_;
};
