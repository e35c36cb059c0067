#include "fakeplatform.h"
#include "installerwindow.h"
#include "logtail.h"
#include "standins.h"
#include "systemplatform.h"
#include "testenvironment.h"
#include "testserver.h"

#include <QtTest>

#include <memory>

namespace {

const QString kLaunchScript = "do shell script \"/usr/bin/open '-W' '/tmp/a.pkg'\"";
const QString kInstallScript =
    "do shell script \"/usr/sbin/installer -pkg '/tmp/a.pkg' -target '/'\" with administrator "
    "privileges";

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

private:
    TestServer m_server;
    FakePlatform m_fake;

    // A window whose update check never gets an answer, so that it does nothing on its own.
    std::unique_ptr<InstallerWindow> window(Platform* platform)
    {
        return std::make_unique<InstallerWindow>(nullptr, platform, m_server.baseUrl());
    }

    bool run(InstallerWindow& window, bool install, const QString& package, const QString& volume,
             QString& error)
    {
        return install ? window.install(package, volume, error)
                       : window.launchInstaller(package, error);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        m_server.hang("/wp-json/v2/check-update");
    }

    void scriptTextAndLogLine_data()
    {
        QTest::addColumn<bool>("install");
        QTest::addColumn<QString>("script");
        QTest::newRow("launchInstaller") << false << kLaunchScript;
        QTest::newRow("install") << true << kInstallScript;
    }

    void scriptTextAndLogLine()
    {
        QFETCH(bool, install);
        QFETCH(QString, script);
        m_fake = FakePlatform();
        auto installer = window(&m_fake);

        LogTail log;
        QString error;
        QVERIFY(run(*installer, install, "/tmp/a.pkg", "/", error));
        QCOMPARE(m_fake.scripts, QStringList({script}));
        QCOMPARE(log.messages(), QStringList({"About to launch the script: ' " + script + " '"}));
        QCOMPARE(error, QString());
    }

    void outcomeToResult_data()
    {
        QTest::addColumn<bool>("install");
        QTest::addColumn<bool>("succeeded");
        QTest::addColumn<int>("number"); // 0: none
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("errorBefore");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("errorAfter");

        const QString password = "The administrator password is required to do this.";
        for (const bool install : {false, true}) {
            const QString name = install ? "install: " : "launchInstaller: ";
            QTest::newRow(qPrintable(name + "success keeps the text"))
                << install << true << 0 << QString() << "as it was" << true << "as it was";
            QTest::newRow(qPrintable(name + "cancelled"))
                << install << false << -128 << "User canceled."
                << "" << false << password;
            QTest::newRow(qPrintable(name + "cancelled without message"))
                << install << false << -128 << QString() << "" << false << password;
            QTest::newRow(qPrintable(name + "other error"))
                << install << false << 1 << "The installation failed."
                << "" << false << "The installation failed.";
            QTest::newRow(qPrintable(name + "neither number nor message"))
                << install << false << 0 << QString() << "" << false << "";
        }
    }

    void outcomeToResult()
    {
        QFETCH(bool, install);
        QFETCH(bool, succeeded);
        QFETCH(int, number);
        QFETCH(QString, message);
        QFETCH(QString, errorBefore);
        QFETCH(bool, result);
        QFETCH(QString, errorAfter);

        m_fake = FakePlatform();
        m_fake.outcome.succeeded = succeeded;
        if (number != 0)
            m_fake.outcome.errorNumber = number;
        if (!message.isNull())
            m_fake.outcome.errorMessage = message;
        auto installer = window(&m_fake);

        QString error = errorBefore;
        QCOMPARE(run(*installer, install, "/tmp/a.pkg", "/", error), result);
        QCOMPARE(error, errorAfter);
    }

    void throughTheSystemPlatform_data()
    {
        QTest::addColumn<bool>("install");
        QTest::addColumn<QByteArray>("failure"); // what osascript says; empty: it succeeds
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("error");

        QTest::newRow("install succeeds") << true << QByteArray() << true << "";
        QTest::newRow("launch succeeds") << false << QByteArray() << true << "";
        QTest::newRow("install cancelled")
            << true << QByteArray("0:110: execution error: User canceled. (-128)\n") << false
            << "The administrator password is required to do this.";
        QTest::newRow("launch fails")
            << false << QByteArray("0:40: execution error: The file does not exist. (1)\n") << false
            << "The file does not exist.";
    }

    void throughTheSystemPlatform()
    {
        QFETCH(bool, install);
        QFETCH(QByteArray, failure);
        QFETCH(bool, result);
        QFETCH(QString, error);

        StandIns standIns;
        if (!failure.isEmpty())
            qputenv("OSASCRIPT_FAIL", failure);
        auto installer = window(&SystemPlatform::instance());

        QString text;
        QCOMPARE(run(*installer, install, "/tmp/a.pkg", "/", text), result);
        QCOMPARE(text, error);
        QCOMPARE(standIns.recordedScript(), install ? kInstallScript : kLaunchScript);
        if (result) {
            QCOMPARE(standIns.recordedArguments(),
                     install ? QStringList({"-pkg", "/tmp/a.pkg", "-target", "/"})
                             : QStringList({"-W", "/tmp/a.pkg"}));
        }
    }

    void hostilePathsReachTheInstallerUnchanged_data()
    {
        QTest::addColumn<QString>("package");
        QTest::addColumn<QString>("volume");

        QTest::newRow("single quote") << "/tmp/it's.pkg"
                                      << "/Volumes/O'Brien/";
        QTest::newRow("double quote") << "/tmp/a \"b\".pkg"
                                      << "/Volumes/\"HD\"/";
        QTest::newRow("backslash") << "/tmp/a\\b\\\\c.pkg"
                                   << "/Volumes/x\\y/";
        QTest::newRow("command substitution") << "/tmp/$(touch MARK).pkg"
                                              << "/Volumes/$(touch MARK)/";
        QTest::newRow("backtick") << "/tmp/`touch MARK`.pkg"
                                  << "/Volumes/`touch MARK`/";
        QTest::newRow("blanks and separators") << "/tmp/a b; touch MARK; c.pkg"
                                               << "/Volumes/Macintosh HD/";
        QTest::newRow("line feed") << "/tmp/a\ntouch MARK\n.pkg"
                                   << "/Volumes/a\nb/";
        QTest::newRow("everything") << "/tmp/'\"\\$(touch MARK)`touch MARK`\n ;'.pkg"
                                    << "/V/'\\\"\"'/";
    }

    void hostilePathsReachTheInstallerUnchanged()
    {
        QFETCH(QString, package);
        QFETCH(QString, volume);
        StandIns standIns;
        const QString mark = standIns.path() + "/ran";
        package.replace("MARK", mark);
        volume.replace("MARK", mark);
        auto installer = window(&SystemPlatform::instance());

        QString error;
        QVERIFY2(installer->install(package, volume, error), qPrintable(error));
        QCOMPARE(standIns.recordedArguments(), QStringList({"-pkg", package, "-target", volume}));

        QVERIFY2(installer->launchInstaller(package, error), qPrintable(error));
        QCOMPARE(standIns.recordedArguments(), QStringList({"-W", package}));

        QVERIFY(!QFile::exists(mark));
    }
};

CORVANTIS_TEST_MAIN(TestInstall)
#include "tst_install.moc"
