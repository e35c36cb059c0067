#pragma once

#include <QString>

// The trimmed value after the first occurrence of key and the one character that follows it
// (the colon), up to the end of that line; empty when the key does not occur.
QString getValue(QString text, QString key);
