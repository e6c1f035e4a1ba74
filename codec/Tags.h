#pragma once

#include <QByteArrayView>

// The two tags around every BSA message, and a search for them that is quick on long runs of hexadecimal digits.
namespace Tags {

constexpr QByteArrayView Start = "<ZORVAN>";
constexpr QByteArrayView End = "<EINDE>";

// The offset of the first tag at or after from, or -1. Both tags begin with "<", which no hexadecimal digit is,
// so a scan for that one byte skips a payload at memchr speed.
inline qsizetype find(QByteArrayView bytes, QByteArrayView tag, qsizetype from = 0)
{
    const qsizetype last = bytes.size() - tag.size();
    if (from < 0 || from > last)
        return -1;
    for (qsizetype at = bytes.indexOf('<', from); at >= 0 && at <= last; at = bytes.indexOf('<', at + 1)) {
        if (bytes.sliced(at, tag.size()) == tag)
            return at;
    }
    return -1;
}

} // namespace Tags
