#pragma once

#include <QString>

// A dotted version as one integer: each component a base-1000 digit, computed in wrapping
// unsigned 32-bit arithmetic and read as signed. 0 means no version.
int version_string2int(QString version);
