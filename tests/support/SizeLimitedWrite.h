#pragma once

#include <QProcess>
#include <QStringList>

#include "tests/support/UnixOnly.h"

// Runs tests/support/WriteUnderSizeLimit: one write of the link in a child process whose files cannot grow past
// `limit` bytes, as on a full disk. The child's exit code (0 written, 1 refused, 2 wrong use; -1 when it did not
// run or end) and what it said on standard error.
struct SizeLimitedWrite
{
    int exitCode = -1;
    QString report;
};

inline SizeLimitedWrite writeUnderSizeLimit(qint64 limit, const QStringList &job)
{
    QProcess child;
    child.start(QStringLiteral(BSA_WRITE_UNDER_SIZE_LIMIT), QStringList { QString::number(limit) } + job);
    SizeLimitedWrite result;
    if (!child.waitForFinished(30000) || child.exitStatus() != QProcess::NormalExit) {
        child.kill();
        child.waitForFinished(5000);
        result.report = QStringLiteral("the child did not end normally: %1").arg(child.errorString());
        return result;
    }
    result.exitCode = child.exitCode();
    result.report = QString::fromLocal8Bit(child.readAllStandardError()).trimmed();
    return result;
}
