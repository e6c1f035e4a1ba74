#include "LogView.h"

#include <QFontDatabase>
#include <QScopedValueRollback>

LogView::LogView(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("BSALog"));
    // One row per log line, so that the rows the operator sees are the lines the housekeeping counts.
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // The undo history would keep a copy of every appended line until the log is archived.
    setUndoRedoEnabled(false);
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_updating)
            emit edited(lines());
    });
}

void LogView::appendLine(const QString &line)
{
    const QScopedValueRollback<bool> updating(m_updating, true);
    appendPlainText(line); // keeps the view at the end when it was there, and lays out the new row only
}

void LogView::showLines(const QStringList &lines)
{
    const QScopedValueRollback<bool> updating(m_updating, true);
    setPlainText(lines.join(QLatin1Char('\n')));
    moveCursor(QTextCursor::End);
}

void LogView::clearLines()
{
    const QScopedValueRollback<bool> updating(m_updating, true);
    clear();
}

QStringList LogView::lines() const
{
    const QString text = toPlainText();
    if (text.isEmpty())
        return {};
    return text.split(QLatin1Char('\n'));
}
