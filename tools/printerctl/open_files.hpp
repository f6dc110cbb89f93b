#pragma once

// Open descriptors: a fleet holds one per printer it talks to at once.
namespace printerctl {

// Raises the soft limit on open descriptors to the hard one (the usual soft limit of 1,024 is a
// default for old select() users, not a choice of the administrator's). Returns the limit now in
// force.
long raiseOpenFileLimit();

// The soft limit in force.
long openFileLimit();

// The most printers `apply` runs at once under `openFileLimit`: one descriptor each, and a
// reserve for the program itself (standard streams, the event loop, the system bus).
int maximumJobs(long openFileLimit);

} // namespace printerctl
