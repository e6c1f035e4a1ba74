#include "FieldValues.h"

#include <limits>

#include "codec/AnsiCodePage.h"

namespace {

int digitValue(char16_t c, int base)
{
    int value = -1;
    if (c >= u'0' && c <= u'9')
        value = c - u'0';
    else if (c >= u'a' && c <= u'f')
        value = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
        value = c - u'A' + 10;
    return value < base ? value : -1;
}

} // namespace

namespace FieldValues {

Fields splitAtTabs(QStringView text)
{
    Fields fields;
    if (text.isEmpty())
        return fields;
    // One pass over the text: a message holds some 75 fields, and a search per field costs more than the field.
    const char16_t *const begin = text.utf16();
    const char16_t *const end = begin + text.size();
    const char16_t *from = begin;
    for (const char16_t *at = begin; at != end; ++at) {
        if (*at == u'\t') {
            fields.append(QStringView(from, at));
            from = at + 1;
        }
    }
    fields.append(QStringView(from, end));
    return fields;
}

int readInteger(QStringView field, HexPrefixes prefixes)
{
    qsizetype i = 0;
    const qsizetype n = field.size();
    while (i < n && field[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (field[i] == u'-' || field[i] == u'+')) {
        negative = field[i] == u'-';
        ++i;
    }
    int base = 10;
    const auto isX = [&](qsizetype at) { return at < n && (field[at] == u'x' || field[at] == u'X'); };
    if (i < n && field[i] == u'$') {
        base = 16;
        i += 1;
    } else if (prefixes == HexPrefixes::DollarOrX && isX(i)) {
        base = 16;
        i += 1;
    } else if (i < n && field[i] == u'0' && isX(i + 1)) {
        base = 16;
        i += 2;
    }
    if (i == n)
        return 0; // no digits at all
    // The magnitude may reach 2^31 only for a negative number.
    const qint64 limit = qint64(std::numeric_limits<int>::max()) + (negative ? 1 : 0);
    qint64 value = 0;
    for (; i < n; ++i) {
        const int digit = digitValue(field[i].unicode(), base);
        if (digit < 0)
            return 0;
        value = value * base + digit;
        if (value > limit)
            return 0;
    }
    return int(negative ? -value : value);
}

QString shortText(QStringView field, qsizetype capacity)
{
    // Restricting first, so that a character outside the basic plane counts as the one '?' it becomes.
    QString text = AnsiCodePage::restrict(field.left(capacity * 2));
    text.truncate(capacity);
    return text;
}

QString longText(QStringView field)
{
    return AnsiCodePage::restrict(field);
}

QStringView withoutBlanks(QStringView text)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && text[from].unicode() <= 32)
        ++from;
    while (to > from && text[to - 1].unicode() <= 32)
        --to;
    return text.sliced(from, to - from);
}

} // namespace FieldValues
