#pragma once

#include "tools/printerctl/command_line.hpp"

namespace printerctl {

// `printerctl list tcp`: searches the network and prints each printer as it is found,
// ADDRESS:PORT, name (escaped) and source separated by tabs, and "off-subnet" as a fourth field
// for an address outside this computer's networks; a printer that a second source confirms or
// names later is printed again with what is known now. With --json, one array at the end
// instead. Notices and progress (when it is a terminal) go to standard error. Returns 0 when
// the network was searched (found or not), 1 when nothing could search or the probe failed
// here.
int listTcpPrinters(const ListRequest& request);

} // namespace printerctl
