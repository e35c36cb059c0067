#pragma once

#include <QtTest>

#include <functional>

// Points HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR at a fresh temporary folder for the life of
// the test process, so that no run touches a user's real data, and gives the application the
// identity that the installer's data directory is derived from.
void prepareTestProcess();

// The per-user data directory the installer writes its log and package into.
QString dataDirectory();

// Whether the text is the pattern, each "*" in it standing for any text.
bool matchesPattern(const QString& text, const QString& pattern);

QByteArray readFile(const QString& path);                     // empty when it cannot be read
bool writeFile(const QString& path, const QByteArray& bytes); // anew, making missing folders

// Runs the event loop until done() holds or the time is up, and says whether it holds. Unlike
// QTest::qWaitFor it never sleeps between turns, as the installer's own loop does not: a
// download through the relay takes a dozen turns.
bool runEventsUntil(const std::function<bool()>& done, int timeoutMs);

// Every suite runs in that environment from before its application object exists.
[[maybe_unused]] static const bool g_testProcessPrepared = (prepareTestProcess(), true);
