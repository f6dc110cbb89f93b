// GoogleTest for code that meets USB devices emulated by umockdev: the process must run with
// umockdev's preload library, and gets a temporary directory of its own.
#include "tests/usb/usb_testbed.hpp"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!usb_testing::inMockEnvironment()) {
        std::fprintf(stderr, "%s: run under umockdev-wrapper (ctest does)\n", argv[0]);
        return 2;
    }
    // Testbeds and the files of child processes land here. Readable by all: one test runs a
    // child as an unprivileged user that must still see the emulated sysfs.
    const char* base = std::getenv("TMPDIR");
    std::string dir = std::string(base && *base ? base : "/tmp") + "/usb-tests.XXXXXX";
    if (!mkdtemp(dir.data())) {
        std::perror("mkdtemp");
        return 2;
    }
    std::filesystem::permissions(dir, std::filesystem::perms(0755));
    setenv("TMPDIR", dir.c_str(), 1);

    QCoreApplication app(argc, argv);
    const int status = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return status;
}
