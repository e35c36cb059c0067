#pragma once

#include <QFile>
#include <QString>
#include <QtGlobal>

#include <mutex>

// Guards the one-time opening of the install log.
extern std::mutex g_mutex;
// The install log; null until init_logger has run, then never released.
extern QFile* g_logFile;

// Opens the log in the per-user data directory and routes every message of the process into it.
// Only the first call has an effect.
void init_logger(QString label, QString fileName);

// Writes one record: local date and time, ":", the message, a line feed.
void messageOutput(QtMsgType type, const QMessageLogContext& context, const QString& message);
