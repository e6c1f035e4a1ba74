// Random settings files through the reader: none may crash it, and what the link writes back from a file it read must
// read again, and write again to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "settings/Settings.h"
#include "settings/SettingsStore.h"

namespace {

void check(bool holds)
{
    if (!holds)
        std::abort();
}

const QTemporaryDir &folder()
{
    static const QTemporaryDir dir;
    return dir;
}

bool writeFile(const QByteArray &bytes)
{
    QFile file(QDir(folder().path()).filePath(QString::fromLatin1(SettingsStore::FileName)));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() && file.flush();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    check(folder().isValid());
    check(writeFile(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size))));
    SettingsStore store(folder().path());
    if (!store.LoadSettingsFile())
        return 0;
    Settings settings;
    store.RestoreSettings(settings);
    const QByteArray written = store.toBytes();

    // What the link would write at the end must not keep the next start from reading its settings.
    check(writeFile(written));
    SettingsStore again(folder().path());
    check(again.LoadSettingsFile());
    Settings restored;
    again.RestoreSettings(restored);
    check(again.toBytes() == written);
    return 0;
}
