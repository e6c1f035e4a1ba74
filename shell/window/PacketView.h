#pragma once

#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>

// A read-only view of packet lines ("Pakket IN", "Pakket UIT") that shows the latest lines it was given, at most
// ten times a second: BSA may send hundreds of rides a second, and the operator can read only the last one.
class PacketView final : public QPlainTextEdit
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PacketView)
public:
    PacketView(const QString &name, QPlainTextEdit::LineWrapMode wrap, QWidget *parent = nullptr);

    // Shown within a tenth of a second, unless newer lines come first.
    void showLines(const QStringList &lines);
    // Shows the latest lines now.
    void flush();

private:
    QStringList m_latest;
    bool m_changed = false;
    QTimer m_flush;
};
