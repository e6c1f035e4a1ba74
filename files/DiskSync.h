#pragma once

class QFileDevice;
class QString;

// Putting a file's bytes on the disk, so that what a write reported as done survives a crash or a power cut.
namespace DiskSync {

// Writes what `file` still buffers and has the system put its data on the disk. False with the reason in *error.
bool flush(QFileDevice &file, QString *error);

} // namespace DiskSync
