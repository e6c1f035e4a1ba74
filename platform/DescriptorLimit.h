#pragma once

#include <QtGlobal>

// How many files and sockets the process may hold open at once, and how many it holds. Every BSA connection takes
// one; the database, the log archive and the settings file need a few more.
namespace DescriptorLimit {

// Raises the limit on open files to the most the system allows this process (the soft limit to the hard one) and
// gives the limit in effect afterwards; -1 where the system sets none (Windows).
qint64 raiseToHardLimit();
// The limit in effect now; -1 where the system sets none.
qint64 current();
// The descriptors the process holds open now; -1 where the system does not tell.
qint64 openCount();

} // namespace DescriptorLimit
