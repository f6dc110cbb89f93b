// GoogleTest with a Qt application object; the private system bus of the process goes away
// after the tests.
#include "tests/ble/fake_bluez.hpp"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    const int status = RUN_ALL_TESTS();
    ble_testing::stopPrivateSystemBus();
    return status;
}
