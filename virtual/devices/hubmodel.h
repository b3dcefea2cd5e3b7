#pragma once

#include "usbmodel.h"

namespace vdev {

// A root hub or an external hub: enumerates, answers nothing of interest.
class HubModel : public UsbDeviceModel
{
public:
    explicit HubModel(Identity identity);

    static Identity rootHubIdentity();
    static Identity externalHubIdentity();

    Identity identity() const override { return identity_; }
    bool isHub() const override { return true; }
    std::optional<std::string> stringDescriptor(uint8_t index) const override;
    int control(const ControlSetup &setup, uint8_t *data) override;

private:
    Identity identity_;
};

} // namespace vdev
