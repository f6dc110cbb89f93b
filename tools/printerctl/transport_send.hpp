#pragma once

#include "tools/printerctl/command_line.hpp"

namespace printerctl {

// Connects to HOST[:PORT] (port 9100 by default) through the same manager and routing the window
// uses, sends the planned commands with their spacing, waits until the bytes are written, and
// disconnects. Returns the exit status: 0 done, 1 transport or send failure, 2 invalid target.
int sendOverTcp(const SendRequest& request);

} // namespace printerctl
