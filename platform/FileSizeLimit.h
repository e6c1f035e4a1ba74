#pragma once

// The system's limit on the size of a file this process writes (ulimit -f, a service's LimitFSIZE=).
namespace FileSizeLimit {

// A write past the limit fails with its error (EFBIG), which the writer reports, instead of ending the process with
// SIGXFSZ: a download, an archive or the settings file that cannot be written whole must not take the link down
// with it. Nothing to do where the system has no such signal (Windows).
void letWritesFail();

} // namespace FileSizeLimit
