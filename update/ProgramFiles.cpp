#include "ProgramFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "files/WholeFile.h"
#include "update/UpdateSignature.h"

namespace {

constexpr qint64 CopyBlock = 256 * 1024;

} // namespace

bool copyFileReplacing(const QString &source, const QString &target, QFileDevice::Permissions permissions,
    QString *error, const CopyCheck &checkCopy)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1 kan niet gelezen worden: %2").arg(source, in.errorString());
        return false;
    }
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("%1 kan niet geschreven worden: %2").arg(target, out.errorString());
        return false;
    }
    UpdateSignature::FileHash copyHash;
    while (!in.atEnd()) {
        const QByteArray block = in.read(CopyBlock);
        if (block.isEmpty() && in.error() != QFileDevice::NoError) {
            *error = QStringLiteral("%1 kan niet gelezen worden: %2").arg(source, in.errorString());
            return false;
        }
        if (out.write(block) != block.size()) {
            *error = QStringLiteral("%1 kan niet geschreven worden: %2").arg(target, out.errorString());
            return false;
        }
        copyHash.addData(block.constData(), block.size());
    }
    if (checkCopy && !checkCopy(copyHash.result(), error))
        return false; // the copy goes with out; target is untouched
    // Set on the temporary file, so the file that appears under target's name already has them.
    if (!out.setPermissions(permissions)) {
        *error = QStringLiteral("%1: de rechten kunnen niet gezet worden").arg(target);
        return false;
    }
    // The new program takes the target's place only when every byte of it reached the disk.
    QString reason;
    if (!WholeFile::commit(out, &reason)) {
        *error = QStringLiteral("%1 kan niet geschreven worden: %2").arg(target, reason);
        return false;
    }
    return true;
}

bool copyProgramToBackups(const QString &programFile, const QString &programFolder, QString *error)
{
    const QDir home(programFolder);
    if (!home.exists(QStringLiteral("Backups")) && !home.mkdir(QStringLiteral("Backups"))) {
        *error = QStringLiteral("De map %1 kan niet gemaakt worden").arg(home.filePath(QStringLiteral("Backups")));
        return false;
    }
    const QFileInfo program(programFile);
    const QString target = home.filePath(QStringLiteral("Backups/") + program.fileName());
    return copyFileReplacing(programFile, target, program.permissions(), error);
}

bool canReplaceProgram(const QString &programFile)
{
    const QFileInfo program(programFile);
    const QString path
        = program.canonicalFilePath().isEmpty() ? program.absoluteFilePath() : program.canonicalFilePath();
    if (path.startsWith(QStringLiteral("/usr/")))
        return false;
    const QFileInfo folder(QFileInfo(path).absolutePath());
    return program.isWritable() && folder.isWritable();
}
