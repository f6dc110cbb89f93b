#pragma once

namespace printerctl {

// Raises this process's soft limit of open files to its hard limit. A probe of a network or a
// fleet holds one descriptor per connection at once, and the usual soft limit (1024) is meant
// for programs that do not; the hard limit is what the administrator allows.
void raiseOpenFileLimit();

} // namespace printerctl
