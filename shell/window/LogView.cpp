#include "LogView.h"

#include <chrono>

#include <QFontDatabase>
#include <QScopedValueRollback>

namespace {
// New lines show at most this long after they were logged, and the view is painted at most this often for them.
constexpr std::chrono::milliseconds FlushInterval { 100 };
} // namespace

LogView::LogView(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("BSALog"));
    // One row per log line, so that the rows the operator sees are the lines the housekeeping counts.
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // The undo history would keep a copy of every appended line until the log is archived.
    setUndoRedoEnabled(false);
    m_flush.setSingleShot(true);
    m_flush.setInterval(FlushInterval);
    connect(&m_flush, &QTimer::timeout, this, &LogView::flush);
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_updating)
            emit edited(lines()); // the gathered lines still come after the operator's text
    });
}

void LogView::appendLine(const QString &line)
{
    m_pending.append(line);
    if (!m_flush.isActive())
        m_flush.start();
}

void LogView::flush()
{
    m_flush.stop();
    if (m_pending.isEmpty())
        return;
    const QScopedValueRollback<bool> updating(m_updating, true);
    // One paragraph per line; the view stays at the end when it was there, and lays out the new rows only.
    appendPlainText(m_pending.join(QLatin1Char('\n')));
    m_pending.clear();
}

void LogView::showLines(const QStringList &lines)
{
    const QScopedValueRollback<bool> updating(m_updating, true);
    m_pending.clear();
    m_flush.stop();
    setPlainText(lines.join(QLatin1Char('\n')));
    moveCursor(QTextCursor::End);
}

void LogView::clearLines()
{
    const QScopedValueRollback<bool> updating(m_updating, true);
    m_pending.clear();
    m_flush.stop();
    clear();
}

QStringList LogView::lines() const
{
    const QString text = toPlainText();
    QStringList shown = text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    return shown + m_pending;
}
