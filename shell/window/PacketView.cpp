#include "PacketView.h"

#include <chrono>

#include <QFontDatabase>

namespace {
constexpr std::chrono::milliseconds FlushInterval { 100 };
} // namespace

PacketView::PacketView(const QString &name, QPlainTextEdit::LineWrapMode wrap, QWidget *parent)
    : QPlainTextEdit(parent)
{
    setObjectName(name);
    setReadOnly(true);
    setLineWrapMode(wrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_flush.setSingleShot(true);
    m_flush.setInterval(FlushInterval);
    connect(&m_flush, &QTimer::timeout, this, &PacketView::flush);
}

void PacketView::showLines(const QStringList &lines)
{
    m_latest = lines;
    m_changed = true;
    if (!m_flush.isActive())
        m_flush.start();
}

void PacketView::flush()
{
    m_flush.stop();
    if (!m_changed)
        return;
    m_changed = false;
    setPlainText(m_latest.join(QLatin1Char('\n')));
}
