#pragma once

#include "tools/printerctl/command_line.hpp"

namespace printerctl {

// `printerctl list tcp`: searches the network and prints each printer as it is found,
// ADDRESS:PORT, name and source separated by tabs; a printer that a second source confirms or
// names later is printed again with what is known now. With --json, one array at the end
// instead. Progress goes to standard error when that is a terminal. Returns 0.
int listTcpPrinters(const ListRequest& request);

} // namespace printerctl
