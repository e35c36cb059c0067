#include "fakeplatform.h"
#include "installerwindow.h"
#include "logtail.h"
#include "receipt.h"
#include "testenvironment.h"
#include "testserver.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString kExecutable = "Applications/Corvantis/Corvantis.app/Contents/MacOS/Corvantis";

QString receipt(const QString& version, const QString& volume)
{
    return QString("package-id: com.halvery.pkg.Corvantis\nversion: %1\nvolume: %2\n"
                   "location: /\ninstall-time: 1700000000\n")
        .arg(version, volume);
}

} // namespace

class TestInstalledInfo : public QObject
{
    Q_OBJECT

private:
    TestServer m_server;
    FakePlatform m_platform;
    std::unique_ptr<InstallerWindow> m_window;
    QTemporaryDir m_volumes;

    // A volume folder below the temporary folder, with the product in it when asked.
    QString volume(const QString& name, bool withProduct)
    {
        const QString path = m_volumes.filePath(name);
        QDir().mkpath(path);
        if (withProduct) {
            const QString executable = path + "/" + kExecutable;
            QDir().mkpath(QFileInfo(executable).path());
            QFile file(executable);
            file.open(QIODevice::WriteOnly);
        }
        return path;
    }

private slots:
    void initTestCase()
    {
        // The update check never gets an answer, so the window does nothing on its own.
        QVERIFY(m_server.listen());
        m_server.hang("/wp-json/v2/check-update");
        m_window = std::make_unique<InstallerWindow>(nullptr, &m_platform, m_server.baseUrl());
    }

    void init() { m_platform = FakePlatform(); }

    void getValue_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        const QString threeLines = "package-id: x\nversion: 2.1.0\nvolume: /\n";
        QTest::newRow("version of three lines") << threeLines << "version"
                                                << "2.1.0";
        QTest::newRow("volume of three lines") << threeLines << "volume"
                                               << "/";
        QTest::newRow("missing key") << threeLines << "location"
                                     << "";
        QTest::newRow("last line without line feed") << "a: b\nversion: 3.0"
                                                     << "version"
                                                     << "3.0";
        QTest::newRow("two blanks and carriage return") << "version:  2.0 \r\n"
                                                        << "version"
                                                        << "2.0";
        QTest::newRow("first occurrence anywhere") << "old-version: 1\nversion: 2\n"
                                                   << "version"
                                                   << "1";
        QTest::newRow("case matters") << "Version: 1\nversion: 2\n"
                                      << "version"
                                      << "2";
        QTest::newRow("key at the very end") << "a: b\nversion"
                                             << "version"
                                             << "";
        QTest::newRow("empty value") << "version:\nvolume: /\n"
                                     << "version"
                                     << "";
    }

    void getValue()
    {
        QFETCH(QString, text);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QCOMPARE(::getValue(text, key), expected);
    }

    void confirmedInstallationAndItsLogLines()
    {
        const QString data = volume("Data", true);
        m_platform.volumes = QStringList({"/", "/Volumes/Data"});
        m_platform.receipts["/Volumes/Data"] = receipt("2.1.0", data); // no trailing "/"

        LogTail log;
        QString foundVolume;
        QString foundVersion;
        m_window->getInstalledInfo(foundVolume, foundVersion);

        QCOMPARE(foundVolume, data + "/");
        QCOMPARE(foundVersion, QString("2.1.0"));
        QCOMPARE(m_platform.queriedVolumes, QStringList({"/", "/Volumes/Data"}));
        QCOMPARE(m_platform.queriedIdentifiers,
                 QStringList({"com.halvery.pkg.Corvantis", "com.halvery.pkg.Corvantis"}));
        QCOMPARE(log.messages(),
                 QStringList({"Scanning volume  /", "Scanning volume  /Volumes/Data",
                              "Found Corvantis version  \"2.1.0\"  at  \"" + data + "/\"",
                              "And found  \"" + data + "/" + kExecutable + "\""}));
    }

    void receiptWithoutProductDoesNotCount()
    {
        m_platform.volumes = QStringList({"/Volumes/Data"});
        m_platform.receipts["/Volumes/Data"] = receipt("1.4.2", "/Volumes/Data");

        LogTail log;
        QString foundVolume;
        QString foundVersion = "caller's";
        m_window->getInstalledInfo(foundVolume, foundVersion);

        QCOMPARE(foundVolume, QString("/"));
        QCOMPARE(foundVersion, QString("caller's"));
        QCOMPARE(log.messages(),
                 QStringList({"Scanning volume  /Volumes/Data",
                              "Found Corvantis version  \"1.4.2\"  at  \"/Volumes/Data/\"",
                              "But didn't found Corvantis itself"}));
    }

    void highestVersionWins_data()
    {
        QTest::addColumn<QStringList>("versions"); // in scan order
        QTest::addColumn<int>("winner");           // index into versions

        QTest::newRow("1.2.0 then 1.10.0") << QStringList({"1.2.0", "1.10.0"}) << 1;
        QTest::newRow("1.10.0 then 1.2.0") << QStringList({"1.10.0", "1.2.0"}) << 0;
        QTest::newRow("equal: the later one") << QStringList({"2.0.0", "2.0.0"}) << 1;
        QTest::newRow("same integer: the later text") << QStringList({"1.1000", "2.0"}) << 1;
        QTest::newRow("1.2 below 1.1.9") << QStringList({"1.1.9", "1.2"}) << 0;
        QTest::newRow("missing version still counts") << QStringList({""}) << 0;
    }

    void highestVersionWins()
    {
        QFETCH(QStringList, versions);
        QFETCH(int, winner);
        QStringList paths;
        for (int i = 0; i < versions.size(); ++i) {
            const QString mountPoint = QString("/Volumes/V%1").arg(i);
            paths << volume(QString("v%1-%2").arg(QTest::currentDataTag()).arg(i), true) + "/";
            m_platform.volumes << mountPoint;
            m_platform.receipts[mountPoint] = receipt(versions[i], paths.last());
        }
        QString foundVolume;
        QString foundVersion;
        m_window->getInstalledInfo(foundVolume, foundVersion);
        QCOMPARE(foundVersion, versions[winner]);
        QCOMPARE(foundVolume, paths[winner]);
    }

    void receiptWithoutVolumeLineMeansTheStartUpVolume()
    {
        m_platform.volumes = QStringList({"/"});
        m_platform.receipts["/"] = "package-id: x\nversion: 1.0\n";
        LogTail log;
        QString foundVolume;
        QString foundVersion;
        m_window->getInstalledInfo(foundVolume, foundVersion);
        QCOMPARE(foundVolume, QString("/"));
        QCOMPARE(foundVersion, QString()); // no product at /Applications here
        QVERIFY(log.messages().contains("Found Corvantis version  \"1.0\"  at  \"/\""));
    }

    void nothingMountedLeavesTheCallersVersion()
    {
        QString foundVolume = "/somewhere/";
        QString foundVersion = "9.9";
        m_window->getInstalledInfo(foundVolume, foundVersion);
        QCOMPARE(foundVolume, QString("/"));
        QCOMPARE(foundVersion, QString("9.9"));
    }
};

CORVANTIS_TEST_MAIN(TestInstalledInfo)
#include "tst_installedinfo.moc"
