#include "pages/property_usb_ftdi.h"

CProperty_USB_FTDI::CProperty_USB_FTDI(PageContext& context, QWidget* parent)
    : UpdatePage(context, DeviceListFrame(), parent) {}
