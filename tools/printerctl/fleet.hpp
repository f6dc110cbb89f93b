#pragma once

#include "tools/printerctl/command_line.hpp"

namespace printerctl {

// `printerctl apply`: the profile's plan on every target. TCP and serial targets run side by
// side, at most `jobs` at once; USB and Bluetooth targets share one bus or radio and run one at
// a time. One line per target as it finishes; a failing target never stops the others.
// Returns 0 when every target succeeded, else 1.
int applyProfile(const ApplyRequest& request);

// `printerctl profile check`: 0 and a summary when the profile is sound, else 2 and its problems.
int checkProfile(const ProfileCheckRequest& request);

} // namespace printerctl
