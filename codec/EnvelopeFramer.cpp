#include "EnvelopeFramer.h"

namespace {
constexpr char StartTag[] = "<ZORVAN>";
constexpr char EndTag[] = "<EINDE>";
constexpr qsizetype StartTagLength = sizeof(StartTag) - 1;
constexpr qsizetype EndTagLength = sizeof(EndTag) - 1;
}

void EnvelopeFramer::append(const QByteArray &bytes)
{
    m_buffer.append(bytes);
}

std::optional<QByteArray> EnvelopeFramer::takeEnvelope()
{
    const qsizetype start = m_buffer.indexOf(StartTag, m_start);
    if (start < 0) {
        // Noise outside an envelope is dropped, but a start tag may be arriving in pieces: keep its possible head.
        const qsizetype keep = std::min<qsizetype>(StartTagLength - 1, bufferedSize());
        m_start = m_buffer.size() - keep;
        compact();
        return std::nullopt;
    }
    m_start = start;   // bytes before the start tag are noise
    const qsizetype payloadStart = start + StartTagLength;
    const qsizetype end = m_buffer.indexOf(EndTag, std::max(payloadStart, m_endSearchFrom));
    if (end < 0) {
        // A large envelope arriving in many small reads must not be searched from its start at every read.
        m_endSearchFrom = std::max(payloadStart, m_buffer.size() - (EndTagLength - 1));
        compact();
        return std::nullopt;
    }
    // A second start tag before the end tag means the first envelope was cut off: the newer one wins.
    const qsizetype restart = m_buffer.lastIndexOf(StartTag, end);
    const qsizetype from = restart > start ? restart + StartTagLength : payloadStart;
    QByteArray payload = m_buffer.mid(from, end - from);
    m_start = end + EndTagLength;
    compact();
    return payload;
}

void EnvelopeFramer::clear()
{
    m_buffer.clear();
    m_start = 0;
    m_endSearchFrom = 0;
}

void EnvelopeFramer::compact()
{
    // Move the unread tail to the front only once the consumed head outweighs it, so that many small
    // envelopes in one read cost linear time.
    if (m_start == m_buffer.size()) {
        clear();
    } else if (m_start > 4096 && m_start * 2 > m_buffer.size()) {
        m_buffer.remove(0, m_start);
        m_endSearchFrom = std::max<qsizetype>(0, m_endSearchFrom - m_start);
        m_start = 0;
    }
}
