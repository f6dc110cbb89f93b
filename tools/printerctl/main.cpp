// printerctl: the command-line twin of the configuration window.
#include "protocol/decoder.hpp"
#include "protocol/frame.hpp"
#include "tools/printerctl/command_line.hpp"
#include "tools/printerctl/fleet.hpp"
#include "tools/printerctl/hex_input.hpp"
#include "tools/printerctl/list_tcp.hpp"
#include "tools/printerctl/open_file_limit.hpp"
#include "tools/printerctl/transport_send.hpp"

#include <iostream>
#include <iterator>
#include <sstream>

namespace {

int runDecode(const printerctl::DecodeRequest& request) {
    std::string input;
    if (request.hexArguments.empty()) {
        input.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        for (const auto& word : request.hexArguments) {
            input += word + " ";
        }
    }
    const auto hex = printerctl::parseHexText(input);
    if (hex.badToken) {
        std::cerr << "printerctl: not hexadecimal bytes: '" << *hex.badToken << "'\n";
        return 2;
    }
    const protocol::RenderOptions options{request.showSecrets};
    for (const auto& command : protocol::decode(hex.bytes)) {
        std::cout << (request.json ? protocol::renderJson(command, options)
                                   : protocol::renderLine(command, options))
                  << '\n';
    }
    return 0;
}

int runSend(const printerctl::SendRequest& request) {
    if (request.dryRun) {
        for (const auto& step : request.plan.steps) {
            std::cout << protocol::hexText(*step.build().bytes) << '\n';
        }
        return 0;
    }
    if (request.transport == printerctl::Transport::none) {
        std::cerr << "printerctl: choose a transport (--tcp, --serial, --usb or --ble), or "
                     "--dry-run to print the commands\n";
        return 2;
    }
    return printerctl::sendRequest(request);
}

} // namespace

int main(int argc, char** argv) {
    printerctl::raiseOpenFileLimit();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto invocation = printerctl::parseCommandLine(arguments);
    if (const auto* error = std::get_if<printerctl::CommandLineError>(&invocation)) {
        std::cerr << error->message << '\n';
        return 2;
    }
    if (std::holds_alternative<printerctl::HelpRequest>(invocation)) {
        std::cout << printerctl::usageText();
        return 0;
    }
    if (const auto* list = std::get_if<printerctl::ListRequest>(&invocation)) {
        if (list->transport == printerctl::Transport::tcp) {
            return printerctl::listTcpPrinters(*list);
        }
        return list->transport == printerctl::Transport::ble
                   ? printerctl::listBlePrinters(list->scanSeconds)
                   : printerctl::listUsbPorts();
    }
    if (const auto* apply = std::get_if<printerctl::ApplyRequest>(&invocation)) {
        return printerctl::applyProfile(*apply);
    }
    if (const auto* check = std::get_if<printerctl::ProfileCheckRequest>(&invocation)) {
        return printerctl::checkProfile(*check);
    }
    if (const auto* decode = std::get_if<printerctl::DecodeRequest>(&invocation)) {
        return runDecode(*decode);
    }
    return runSend(std::get<printerctl::SendRequest>(invocation));
}
