#pragma once

#include <QString>

// What the database connection needs to log in: the four login settings, as they stand at the moment of connecting.
struct DatabaseLogin
{
    QString server; // xLoginServer: which database and where (see Database); empty means "do not connect"
    QString database; // xLoginDatabase
    QString user; // xLoginSQL
    QString password; // xPaswoordSQL
};
