#pragma once

#include "protocol/bytes.hpp"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A command plan: what one screen action or one printerctl command sends, as an ordered list of
// steps. Each step builds its bytes when it runs, from the values as they stand then, or refuses
// with the message the user is shown instead. The window and printerctl both run plans; nothing
// else builds bytes for a printer.
namespace plans {

// A builder gives no frame for input its frame cannot carry; the checks of each field refuse such
// input first with their own words, so this is only the last word.
inline constexpr std::string_view kCommandDoesNotFit =
    "The command does not fit in a printer frame";

struct StepResult {
    std::optional<protocol::Bytes> bytes;
    std::string refusal; // set exactly when there are no bytes

    static StepResult send(protocol::Bytes bytes) { return {std::move(bytes), {}}; }
    static StepResult refuse(std::string message) { return {std::nullopt, std::move(message)}; }
    // What a builder gave: its frame, or the refusal of a frame that could not be made.
    static StepResult built(std::optional<protocol::Bytes> frame) {
        return frame ? send(std::move(*frame)) : refuse(std::string(kCommandDoesNotFit));
    }
};

struct Step {
    // When the step runs, after the plan started (the press of the button).
    std::chrono::milliseconds at{0};
    // The console line's prefix; the line is the prefix and the bytes in hex. Empty: no line.
    std::string logPrefix;
    // The line is printed before the bytes are handed over (else after).
    bool logFirst = false;
    // The screen's confirmation (a restart notice) follows this step.
    bool confirms = false;
    // The communication test: the USB transport confirms a good send itself.
    bool reportSuccess = false;
    std::function<StepResult()> build;
};

struct Plan {
    std::vector<Step> steps;
};

// The messages the steps give for the values as they stand now, in step order. printerctl
// refuses a command that has any: a script must not half-configure a printer.
std::vector<std::string> refusals(const Plan& plan);

// Reads field values when a step runs.
template <typename Fields> using Reader = std::function<Fields()>;

} // namespace plans
