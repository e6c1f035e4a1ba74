#pragma once

#include <optional>

#include <QByteArray>

// Takes the bytes of one connection and yields every complete envelope, in the order it arrived.
class EnvelopeFramer
{
public:
    // A peer that sends this much without completing an envelope loses what it sent.
    static constexpr qsizetype MaxBuffered = 1024 * 1024;

    void append(const QByteArray &bytes);
    // The payload of the next complete envelope: exactly what lies between "<ZORVAN>" and "<EINDE>".
    std::optional<QByteArray> takeEnvelope();
    qsizetype bufferedSize() const { return m_buffer.size() - m_start; }
    // After takeEnvelope() gave nothing: whether a start tag came and its envelope has not ended yet. Noise, a CR LF
    // after an envelope or the first bytes of a start tag do not count.
    bool hasUnfinishedEnvelope() const { return m_unfinished; }
    void clear();

private:
    void compact();

    QByteArray m_buffer;
    qsizetype m_start = 0; // bytes before this offset are consumed
    qsizetype m_endSearchFrom = 0; // the open envelope holds no end tag before this offset
    bool m_unfinished = false;
};
