// Sends a few bytes to the first printer-class interface and prints the outcome, so a test can
// watch a send made by another user.
#include "connection/usb/usb_printer_bulk.hpp"

#include <cstdio>

int main() {
    const auto error = connection::USBPrinterBulk::sendData({0x01, 0x02, 0x03}, {}).error;
    std::fputs(error ? error->toUtf8().constData() : "sent", stdout);
    return error ? 1 : 0;
}
