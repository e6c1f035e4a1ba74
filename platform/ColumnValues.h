#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

#include "platform/Decimal.h"

// The values of one table row to write, column by column in the order they are set. A value is an int, a
// QString, a QDateTime or a Decimal (QVariant::fromValue); the database cuts texts to their columns' sizes.
using ColumnValues = QList<QPair<QString, QVariant>>;
