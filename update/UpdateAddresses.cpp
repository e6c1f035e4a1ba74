#include "UpdateAddresses.h"

QUrl defaultUpdateFileURL()
{
    return QUrl(QStringLiteral(BSA_UPDATE_FILE_URL));
}

QUrl defaultUpdatePageURL()
{
    return QUrl(QStringLiteral(BSA_UPDATE_PAGE_URL));
}
