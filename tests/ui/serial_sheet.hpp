#pragma once

#include "tests/connection/fake_ble_central.hpp"
#include "tests/support/pty.hpp"
#include "ui/content_view_model.hpp"
#include "ui/printer_settings_model.hpp"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace testing_support {

// A settings sheet opened over a USB serial line that is a real pseudo-terminal: what a screen
// sends is read back byte for byte at the master. The radio is scripted.
class SerialSheet : public ::testing::Test {
protected:
    void SetUp() override {
        ui::ContentViewModel::setCentralFactory([] { return std::make_unique<FakeBleCentral>(); });
        content = std::make_unique<ui::ContentViewModel>();
        QSignalSpy connected(&content->usbSerialManager(),
                             &connection::USBSerialManager::connectFinished);
        content->usbSerialManager().connectSerialPath(QString::fromStdString(pty.slavePath()));
        ASSERT_TRUE(connected.wait(5000));
        sheet.setContent(content.get());
        sheet.setConnectionType("usb");
    }

    Pty pty;
    std::unique_ptr<ui::ContentViewModel> content;
    ui::PrinterSettingsModel sheet;
};

} // namespace testing_support
