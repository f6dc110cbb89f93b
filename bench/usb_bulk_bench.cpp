// 64 KiB to an emulated USB printer: through USBPrinterBulk::sendData, and the same bytes
// written by a minimal raw libusb loop (open, claim, bulk transfers of 512). Prints the median
// time of each and their ratio, which is the cost of our listing, matching and bookkeeping over
// the bare transfers. Both go through the same umockdev usbdevfs handler, so its overhead cancels
// out of the ratio but not out of the absolute times.
//
// Not part of ctest. Run it under umockdev's preload library:
//   umockdev-wrapper build/bench/usb_bulk_bench [rounds]
// A sanitizer build also needs ASAN_OPTIONS=verify_asan_link_order=0.
#include "connection/usb/usb_printer_bulk.hpp"
#include "tests/usb/usb_testbed.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <libusb.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kPayload = 64 * 1024;
constexpr std::uint16_t kVendor = 0x1234;
constexpr std::uint16_t kProduct = 0x5678;

bool rawLibusbWrite(const std::vector<std::uint8_t>& bytes) {
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) {
        return false;
    }
    bool ok = false;
    if (libusb_device_handle* handle =
            libusb_open_device_with_vid_pid(context, kVendor, kProduct)) {
        if (libusb_claim_interface(handle, 0) == 0) {
            ok = true;
            for (std::size_t offset = 0; ok && offset < bytes.size(); offset += 512) {
                int moved = 0;
                const int length =
                    static_cast<int>(std::min<std::size_t>(512, bytes.size() - offset));
                ok = libusb_bulk_transfer(handle, 0x01, const_cast<unsigned char*>(&bytes[offset]),
                                          length, &moved, 15000) == 0 &&
                     moved == length;
            }
            libusb_release_interface(handle, 0);
        }
        libusb_close(handle);
    }
    libusb_exit(context);
    return ok;
}

double medianMs(int rounds, const std::function<bool()>& run) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        if (!run()) {
            std::fprintf(stderr, "write failed in round %d\n", i);
            std::exit(1);
        }
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (!usb_testing::inMockEnvironment()) {
        std::fprintf(stderr, "run under umockdev-wrapper: %s [rounds]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    usb_testing::UsbTestbed bed;
    auto& printer = bed.addDevice({.vendorId = kVendor, .productId = kProduct});
    std::vector<std::uint8_t> bytes(kPayload);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i);
    }

    const double ours = medianMs(rounds, [&] {
        return !connection::USBPrinterBulk::sendData(bytes, {std::nullopt, kVendor, kProduct})
                    .error;
    });
    const double raw = medianMs(rounds, [&] { return rawLibusbWrite(bytes); });

    if (printer.received().size() != 2 * static_cast<std::size_t>(rounds) * kPayload) {
        std::fprintf(stderr, "the printer did not receive every byte\n");
        return 1;
    }
    std::printf("64 KiB, median of %d rounds\n", rounds);
    std::printf("  USBPrinterBulk::sendData  %8.2f ms\n", ours);
    std::printf("  raw libusb loop           %8.2f ms\n", raw);
    std::printf("  ratio                     %8.2f\n", ours / raw);
    return 0;
}
