#include "EnvelopeFramer.h"

#include <algorithm>

#include "codec/Tags.h"

namespace {
constexpr qsizetype StartTagLength = Tags::Start.size();
constexpr qsizetype EndTagLength = Tags::End.size();
} // namespace

void EnvelopeFramer::append(const QByteArray &bytes)
{
    m_buffer.append(bytes);
}

std::optional<QByteArray> EnvelopeFramer::takeEnvelope()
{
    const qsizetype start = Tags::find(m_buffer, Tags::Start, m_start);
    if (start < 0) {
        // Noise outside an envelope is dropped, but a start tag may be arriving in pieces: keep its possible head.
        const qsizetype keep = std::min<qsizetype>(StartTagLength - 1, bufferedSize());
        m_start = m_buffer.size() - keep;
        m_unfinished = false;
        compact();
        return std::nullopt;
    }
    m_start = start; // bytes before the start tag are noise
    const qsizetype payloadStart = start + StartTagLength;
    const qsizetype end = Tags::find(m_buffer, Tags::End, std::max(payloadStart, m_endSearchFrom));
    if (end < 0) {
        // A large envelope arriving in many small reads must not be searched from its start at every read.
        m_endSearchFrom = std::max(payloadStart, m_buffer.size() - (EndTagLength - 1));
        m_unfinished = true;
        compact();
        return std::nullopt;
    }
    // A second start tag before the end tag means the first envelope was cut off: the newer one wins.
    qsizetype from = payloadStart;
    const QByteArrayView open(m_buffer.constData(), end);
    for (qsizetype restart = Tags::find(open, Tags::Start, from); restart >= 0;
         restart = Tags::find(open, Tags::Start, from))
        from = restart + StartTagLength;
    QByteArray payload = m_buffer.mid(from, end - from);
    m_start = end + EndTagLength;
    m_unfinished = false;
    compact();
    return payload;
}

void EnvelopeFramer::clear()
{
    m_buffer.clear();
    m_start = 0;
    m_endSearchFrom = 0;
    m_unfinished = false;
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
