#pragma once

#include <QList>
#include <QVariant>

// What one statement gave back, fetched whole before the statement returned: no cursor stays open behind it, so
// the caller may run the next statement while it still reads these rows.
struct QueryResult
{
    QList<QVariantList> rows; // of a SELECT: each row's values in the order of its column list
    int rowsAffected = -1; // of an INSERT, UPDATE or DELETE; -1 when the driver cannot tell
};
