#include "pages/property_usb_silabs.h"

CProperty_USB_SILABS::CProperty_USB_SILABS(PageContext& context, QWidget* parent)
    : UpdatePage(context, DeviceListFrame(), parent) {}
