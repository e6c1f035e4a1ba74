#pragma once

#include <QByteArrayView>
#include <QString>

#include "codec/AckNackBSA.h"

// Reading the link's answers as BSA does.
namespace Answers {

// The answer in one envelope's payload (its hexadecimal digits, without the tags).
bool read(QByteArrayView payload, tAckNackBSA *answer, QString *error);
// "AC BSA 6 12345": kind, value, code and ride number, as an operator reads them.
QString describe(const tAckNackBSA &answer);

} // namespace Answers
