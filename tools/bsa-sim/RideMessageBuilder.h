#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// Builds the text of a ride message as BSA sends it: 75 TAB-separated fields with plausible values.
class RideMessageBuilder
{
public:
    static constexpr int FieldCount = 75;

    enum class Kind {
        Ride, // "BN": a new ride, or a change of one the link already has
        Cancellation, // "BV"
    };

    // The ride's date and time (fields 10 and 12) default to an hour after now.
    RideMessageBuilder(qint32 rideNumber, const QDateTime &now);

    void setKind(Kind kind);
    void setRideNumber(qint32 rideNumber);
    // field is a number 1 to 75 or a ride record name such as "NaamReiziger".
    bool setField(const QString &field, const QString &value, QString *error);
    // "FIELD=VALUE", as given on the command line.
    bool setAssignment(const QString &assignment, QString *error);
    // Sends only the first count fields (0 to 75), to try a link with short messages.
    void truncate(int count);

    QString field(int number) const;
    // The ride number the link will read from field 6, and so the one its answer should carry.
    qint32 rideNumber() const;
    // Fields joined by TAB; a line break inside a value goes out as ESC "L" "F".
    QString text() const;

    // 1 to 75, or 0 for a name the ride record does not have (compared without regard to case).
    static int fieldNumber(const QString &name);
    static QString fieldName(int number);

private:
    QStringList m_fields; // index 0 is field 1
    int m_count = FieldCount;
};
