#pragma once

#include <QUrl>

// The addresses this build was made with (the build settings UpdateFileURL and UpdatePageURL).

// The update description file.
QUrl defaultUpdateFileURL();
// The update web page, used when the description names none.
QUrl defaultUpdatePageURL();
