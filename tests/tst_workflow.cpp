// The installer's whole run in process: a real update server on 127.0.0.1, the window's boxes
// answered by the test, and a fake platform playing the receipts and the system's installer.

#include "boxanswerer.h"
#include "fakeplatform.h"
#include "installerwindow.h"
#include "logtail.h"
#include "testenvironment.h"
#include "testserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString kUpdatePath = "/wp-json/v2/check-update";
const QString kExecutable = "Applications/Corvantis/Corvantis.app/Contents/MacOS/Corvantis";
const QString kUnexpected = "Unexpected server response.\nPlease contact support@halvery.com.";
const QString kLaunchQuestion = "Installation finished. Would you like to launch Corvantis?";

QByteArray offer(const QString& version, const QString& file)
{
    return QString(R"([{"mac_installer_version": "%1", "mac_installer_file": "%2",
                        "mac_app_version": "%1", "mac_app_file": "%2.app.zip",
                        "force_update_mac": false}])")
        .arg(version, file)
        .toUtf8();
}

QByteArray packageBytes()
{
    QByteArray bytes;
    for (int i = 0; i < 300000; ++i)
        bytes += char((i * 7 + i / 1000) & 0xff);
    return bytes;
}

} // namespace

class TestWorkflow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_work{QDir::tempPath() + "/corvantis-workflow-XXXXXX"};
    std::unique_ptr<TestServer> m_server;
    FakePlatform m_platform;
    std::unique_ptr<BoxAnswerer> m_boxes;
    std::unique_ptr<InstallerWindow> m_window;
    QByteArray m_package = packageBytes();
    QByteArray m_zip;
    QByteArray m_storedZip;
    QString m_team; // the team the window requires; empty: no signature check

    QString dataDirectory() const { return TestEnvironment::dataDirectory(); }
    QString volume() const { return m_work.filePath("volume") + "/"; }
    QString mark() const { return m_work.filePath("launched"); }

    // The product on the test volume, with its receipt. The executable leaves a mark when run.
    void installProduct(const QString& version)
    {
        const QString executable = volume() + kExecutable;
        QVERIFY(writeFile(executable, "#!/bin/sh\necho launched > '" + mark().toUtf8() + "'\n"));
        QFile::setPermissions(executable, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_platform.volumes = QStringList({"/", "/Volumes/Test"});
        m_platform.receipts["/Volumes/Test"] =
            "package-id: com.halvery.pkg.Corvantis\nversion: " + version + "\nvolume: " + volume() +
            "\n";
    }

    void removeProduct() { QDir(volume()).removeRecursively(); }

    // Plays the system's installer: the product appears when a script runs.
    void installOnScript(const QString& version)
    {
        m_platform.onScript = [this, version](const QString&) {
            installProduct(version);
        };
    }

    void offerPackage(const QString& name, const TestResponse& package,
                      const QString& version = "2.0.0")
    {
        TestResponse check;
        check.body = offer(version, m_server->url("/files/" + name));
        m_server->route(kUpdatePath, check);
        m_server->route("/files/" + name, package);
    }

    void offerPackage(const QString& name, const QByteArray& bytes,
                      const QString& version = "2.0.0")
    {
        TestResponse package;
        package.body = bytes;
        offerPackage(name, package, version);
    }

    // A click on the button with that caption, or "Return" or "Escape" pressed.
    void answerQuestion(const QString& answer)
    {
        if (answer == "Return")
            m_boxes->press(Qt::Key_Return);
        else if (answer == "Escape")
            m_boxes->press(Qt::Key_Escape);
        else
            m_boxes->click(answer);
    }

    void startWindow()
    {
        m_window =
            std::make_unique<InstallerWindow>(nullptr, &m_platform, m_server->baseUrl(), m_team);
        m_window->show();
    }

    // Runs the window until it closes, as every path of the installer ends.
    bool runToTheEnd()
    {
        startWindow();
        return runEventsUntil([this] { return !m_window->isVisible(); }, 30000);
    }

    QStringList boxTexts() const
    {
        QStringList texts;
        for (const BoxAnswerer::Box& box : m_boxes->boxes)
            texts << box.text;
        return texts;
    }

    QString launchScript(const QString& package) const
    {
        return "do shell script \"/usr/bin/open '-W' '" + package + "'\"";
    }

    QString installScript(const QString& package, const QString& target) const
    {
        return "do shell script \"/usr/sbin/installer -pkg '" + package + "' -target '" + target +
               "'\" with administrator privileges";
    }

    QStringList dataFiles() const
    {
        QStringList files =
            QDir(dataDirectory()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
        files.removeAll("install_log.txt");
        return files;
    }

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        // A real archive holding the package, made by Info-ZIP.
        const QString source = m_work.filePath("zipsource");
        QVERIFY(writeFile(source + "/Corvantis-2.0.0.pkg", m_package));
        QProcess zip;
        zip.setWorkingDirectory(source);
        zip.start("zip", {"-q", "-X", m_work.filePath("package.zip"), "Corvantis-2.0.0.pkg"});
        QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
        m_zip = readFile(m_work.filePath("package.zip"));
        QVERIFY(!m_zip.isEmpty());
        // Stored, so that a changed byte reaches the checksum instead of the decompressor.
        zip.start("zip", {"-q", "-0", "-X", m_work.filePath("stored.zip"), "Corvantis-2.0.0.pkg"});
        QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
        m_storedZip = readFile(m_work.filePath("stored.zip"));
    }

    void init()
    {
        m_server = std::make_unique<TestServer>();
        QVERIFY(m_server->listen());
        m_platform = FakePlatform();
        m_team.clear();
        m_boxes = std::make_unique<BoxAnswerer>();
        removeProduct();
        QFile::remove(mark());
        for (const QString& name : dataFiles())
            QVERIFY(QFile::remove(dataDirectory() + "/" + name) ||
                    QDir(dataDirectory() + "/" + name).removeRecursively());
    }

    void cleanup()
    {
        m_window.reset();
        QCOMPARE(m_boxes->unexpected, 0);
        m_boxes.reset();
        m_server.reset();
    }

    // --- the update information ---

    void unexpectedAnswer_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("logText");

        const QString unexpected = "Could't update, unexpected response\n";
        const QString none = "No update information is available";
        QTest::newRow("object") << QByteArray(R"({"mac_installer_version": "1.0"})") << unexpected;
        QTest::newRow("empty array") << QByteArray("[]") << unexpected;
        QTest::newRow("empty object") << QByteArray("[{}]") << unexpected;
        QTest::newRow("second element a number")
            << offer("1.0", "http://x/a.pkg").replace("]", ", 5]") << unexpected;
        QTest::newRow("string element") << QByteArray(R"(["a"])") << unexpected;
        QTest::newRow("not JSON") << QByteArray("<html>Not found</html>") << unexpected;
        QTest::newRow("empty body") << QByteArray() << unexpected;
        QTest::newRow("installer members only")
            << QByteArray(R"([{"mac_installer_version": "1.0", "mac_installer_file": "u"}])")
            << none;
        QTest::newRow("versions as numbers")
            << QByteArray(R"([{"mac_installer_version": 1, "mac_installer_file": "u",
                               "mac_app_version": "1", "mac_app_file": "v"}])")
            << none;
    }

    void unexpectedAnswer()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, logText);
        TestResponse check;
        check.body = body;
        m_server->route(kUpdatePath, check);
        m_boxes->click("CLOSE");

        LogTail log;
        QVERIFY(runToTheEnd());

        QCOMPARE(m_boxes->boxes.size(), 1);
        const BoxAnswerer::Box& box = m_boxes->boxes.first();
        QCOMPARE(box.text, kUnexpected);
        QCOMPARE(box.title, QString("Corvantis Installer"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.objectNames, QStringList({"CLOSE"}));
        QVERIFY(log.messages().contains(logText + " " + QString::fromUtf8(body)));
        QCOMPARE(m_server->requestedPaths(), QStringList({kUpdatePath}));
        QVERIFY(m_platform.queriedVolumes.isEmpty());
    }

    // Answers made to hurt: each ends in one box that fits on the screen, and the log stays small.
    void hostileUpdateAnswer_data()
    {
        QTest::addColumn<TestResponse>("answer");
        QTest::addColumn<QString>("installed");
        QTest::addColumn<QString>("boxText");
        QTest::addColumn<QString>("record"); // a log record, if one is expected

        const QString unexpected = "Could't update, unexpected response\n ";
        TestResponse endless;
        endless.body = QByteArray(8 * 1024 * 1024, 'a');
        QTest::newRow("answer past the bound")
            << endless << "" << kUnexpected
            << unexpected + QString(65536, 'a') +
                   "\n[... the answer has more than 1048576 bytes; the first 65536 are logged]";

        // Cut where a character ends.
        TestResponse accented;
        accented.body = QString(40000, QChar(0xE9)).toUtf8();
        QTest::newRow("long answer in two-byte characters")
            << accented << "" << kUnexpected
            << unexpected + QString(32768, QChar(0xE9)) +
                   "\n[... the answer has 80000 bytes; the first 65536 are logged]";
        TestResponse accentedOdd;
        accentedOdd.body = "x" + accented.body;
        QTest::newRow("long answer cut inside a character")
            << accentedOdd << "" << kUnexpected
            << unexpected + "x" + QString(32767, QChar(0xE9)) +
                   "\n[... the answer has 80001 bytes; the first 65535 are logged]";

        // Served compressed although not asked to: kept as sent, never inflated.
        TestResponse bomb;
        bomb.body = TestServer::gzip(QByteArray(16 * 1024 * 1024, '\0'));
        bomb.headers.append({"Content-Encoding", QByteArray("gzip")});
        QTest::newRow("compressed answer")
            << bomb << "" << kUnexpected << unexpected + QString::fromUtf8(bomb.body.constData());

        const QString version = "2.0.0" + QString(400 * 1024, 'x');
        TestResponse longVersion;
        longVersion.body = offer(version, "http://127.0.0.1:1/unused.pkg");
        QTest::newRow("long version text")
            << longVersion << "1.0.0"
            << "An older version of Corvantis (v1.0.0) is installed already.\n\nReplace it with "
               "version " +
                   version.left(300) + QChar(0x2026) + "?"
            << "";
    }

    void hostileUpdateAnswer()
    {
        QFETCH(TestResponse, answer);
        QFETCH(QString, installed);
        QFETCH(QString, boxText);
        QFETCH(QString, record);
        m_server->route(kUpdatePath, answer);
        if (!installed.isEmpty())
            installProduct(installed);
        m_boxes->click(installed.isEmpty() ? "CLOSE" : "NO");

        LogTail log;
        QVERIFY(runToTheEnd());
        QCOMPARE(boxTexts(), QStringList({boxText}));
        if (!record.isEmpty())
            QVERIFY(log.messages().contains(record));
        QVERIFY(QFileInfo(LogTail::logPath()).size() < 2 * 1024 * 1024);
        QCOMPARE(m_server->requestedPaths(), QStringList({kUpdatePath}));
        QVERIFY(m_platform.scripts.isEmpty());
    }

    void latestOfferIsChosenByIntegerVersion()
    {
        TestResponse check;
        check.body = QString(R"([
            {"mac_installer_version": "1.10.0", "mac_installer_file": "%1",
             "mac_app_version": "1", "mac_app_file": "x", "force_update_mac": true},
            {"mac_installer_version": "1.2.0", "mac_installer_file": "%2"},
            {"mac_installer_version": "1.010.0", "mac_installer_file": "%3"}])")
                         .arg(m_server->url("/files/first.pkg"), m_server->url("/files/older.pkg"),
                              m_server->url("/files/later.pkg"))
                         .toUtf8();
        m_server->route(kUpdatePath, check);
        TestResponse package;
        package.body = m_package;
        m_server->route("/files/later.pkg", package);

        LogTail log;
        QVERIFY(runToTheEnd());
        // 1.010.0 maps to the same integer as 1.10.0 and comes later, so its file wins.
        QCOMPARE(m_server->requestedPaths(), QStringList({kUpdatePath, "/files/later.pkg"}));
        QVERIFY(log.messages().contains("Installed Corvantis version:  \"\" , the most recent "
                                        "version on the server:  \"1.010.0\""));
    }

    // --- the install decision ---

    void decision_data()
    {
        QTest::addColumn<QString>("installed"); // empty: nothing installed
        QTest::addColumn<QString>("answer");    // to the replace question
        QTest::addColumn<QString>("boxText");   // empty: no decision box
        QTest::addColumn<bool>("downloads");
        QTest::addColumn<bool>("update");

        const QString older = "An older version of Corvantis (v1.1.0) is installed already.\n\n"
                              "Replace it with version 1.2.0?";
        QTest::newRow("nothing installed") << ""
                                           << ""
                                           << "" << true << false;
        QTest::newRow("0.0.0 counts as nothing") << "0.0.0"
                                                 << ""
                                                 << "" << true << false;
        QTest::newRow("same version")
            << "1.2.0"
            << ""
            << "This version of Corvantis (v1.2.0) is installed already." << false << false;
        QTest::newRow("newer version")
            << "1.3.0"
            << ""
            << "A newer version of Corvantis (v1.3.0) is installed already.\n\nPlease uninstall "
               "it first and then launch this installer again."
            << false << false;
        QTest::newRow("1.2.0.0 is newer than 1.2.0")
            << "1.2.0.0"
            << ""
            << "A newer version of Corvantis (v1.2.0.0) is installed already.\n\nPlease uninstall "
               "it first and then launch this installer again."
            << false << false;
        QTest::newRow("older, NO clicked") << "1.1.0"
                                           << "NO" << older << false << false;
        QTest::newRow("older, Return") << "1.1.0"
                                       << "Return" << older << false << false;
        QTest::newRow("older, Escape") << "1.1.0"
                                       << "Escape" << older << false << false;
        QTest::newRow("older, YES") << "1.1.0"
                                    << "YES" << older << true << true;
    }

    void decision()
    {
        QFETCH(QString, installed);
        QFETCH(QString, answer);
        QFETCH(QString, boxText);
        QFETCH(bool, downloads);
        QFETCH(bool, update);

        offerPackage("Corvantis-1.2.0.pkg", m_package, "1.2.0");
        if (!installed.isEmpty())
            installProduct(installed);
        if (!answer.isEmpty()) {
            answerQuestion(answer);
        } else if (!boxText.isEmpty()) {
            m_boxes->click("CLOSE");
        }
        if (downloads)
            m_boxes->click("NO"); // the launch question, when the product is found afterwards

        LogTail log;
        QVERIFY(runToTheEnd());

        QVERIFY(log.messages().contains(
            QString("Installed Corvantis version:  \"%1\" , the most recent version on the "
                    "server:  \"1.2.0\"")
                .arg(installed)));
        if (boxText.isEmpty()) {
            QVERIFY(!boxTexts().contains(boxText));
        } else {
            QCOMPARE(boxTexts().value(0), boxText);
            const BoxAnswerer::Box& box = m_boxes->boxes.first();
            QCOMPARE(box.icon, QMessageBox::Warning);
            QCOMPARE(box.modality, Qt::WindowModal);
            if (boxText.contains("Replace")) {
                QCOMPARE(box.captions, QStringList({"YES", "NO"}));
                QCOMPARE(box.objectNames, QStringList({"NO", "LOAD"}));
                QCOMPARE(box.defaultCaption, QString("NO"));
            } else {
                QCOMPARE(box.objectNames, QStringList({"CLOSE"}));
            }
        }
        QCOMPARE(m_server->requestCount("/files/Corvantis-1.2.0.pkg"), downloads ? 1 : 0);

        const QString package = dataDirectory() + "/Corvantis-1.2.0.pkg";
        if (!downloads)
            QVERIFY(m_platform.scripts.isEmpty());
        else if (update)
            QCOMPARE(m_platform.scripts, QStringList({installScript(package, volume())}));
        else
            QCOMPARE(m_platform.scripts, QStringList({launchScript(package)}));
    }

    // --- the package download ---

    void packageLandsInTheDataDirectory()
    {
        offerPackage("Corvantis%202.0.0.pkg", m_package);
        QByteArray seen;
        int bar = -1;
        m_platform.onScript = [&](const QString&) {
            seen = readFile(dataDirectory() + "/Corvantis 2.0.0.pkg");
            bar = m_window->findChild<QProgressBar*>("progressBar")->value();
        };
        QVERIFY(runToTheEnd());
        QCOMPARE(seen.size(), m_package.size());
        QVERIFY(seen == m_package);
        QCOMPARE(bar, 1000);
        QCOMPARE(dataFiles(), QStringList());
    }

    void progressBar_data()
    {
        QTest::addColumn<qulonglong>("received");
        QTest::addColumn<qulonglong>("total");
        QTest::addColumn<int>("expected");

        QTest::newRow("first byte") << 1ull << 1000000ull << 30;
        QTest::newRow("half") << 500000ull << 1000000ull << 500;
        QTest::newRow("all") << 1000000ull << 1000000ull << 1000;
        QTest::newRow("no total") << 500ull << 0ull << 123;
        QTest::newRow("total unknown") << 4096ull << ~0ull << 30;
        QTest::newRow("beyond 4 GiB") << (5ull << 30) << (6ull << 30) << 833;
    }

    void progressBar()
    {
        QFETCH(qulonglong, received);
        QFETCH(qulonglong, total);
        QFETCH(int, expected);
        m_server->hang(kUpdatePath);
        startWindow();
        auto* bar = m_window->findChild<QProgressBar*>("progressBar");
        QCOMPARE(bar->value(), 0);
        bar->setValue(123);
        QVERIFY(QMetaObject::invokeMethod(m_window.get(), "on_progress",
                                          Q_ARG(qulonglong, received), Q_ARG(qulonglong, total)));
        QCOMPARE(bar->value(), expected);
    }

    void cancelDeletesAPartialPackage()
    {
        TestResponse slow;
        slow.body = m_package;
        slow.trickleBytes = 1000;
        slow.trickleIntervalMs = 20;
        offerPackage("slow.pkg", slow);

        startWindow();
        const QString partial = dataDirectory() + "/slow.pkg";
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(partial).size() > 0, 20000);
        auto* bar = m_window->findChild<QProgressBar*>("progressBar");
        QTRY_VERIFY(bar->value() >= 30);

        m_window->findChild<QPushButton*>("buttonCancel")->click();
        QVERIFY(!m_window->isVisible());
        QVERIFY(!QFile::exists(partial));
        QVERIFY(m_platform.scripts.isEmpty());
    }

    void cancelWhileTheServerHangs()
    {
        m_server->hang(kUpdatePath);
        QVERIFY(writeFile(dataDirectory() + "/unrelated.pkg", "keep"));
        startWindow();
        QTRY_COMPARE(m_server->requestCount(kUpdatePath), 1);

        m_window->findChild<QPushButton*>("buttonCancel")->click();
        QVERIFY(!m_window->isVisible());
        QCOMPARE(dataFiles(), QStringList({"unrelated.pkg"})); // nothing to delete yet
        QVERIFY(m_boxes->boxes.isEmpty());
    }

    void failedUpdateCheck_data()
    {
        QTest::addColumn<int>("status"); // 0: nobody listens
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("server error") << 500 << QByteArray();
        QTest::newRow("not found") << 404 << QByteArray();
        QTest::newRow("connection refused") << 0 << QByteArray();
        QTest::newRow("long reason phrase") << 500 << QByteArray(200 * 1024, 'r');
    }

    void failedUpdateCheck()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, reason);
        if (status == 0) {
            m_server->close();
        } else {
            TestResponse failure;
            failure.status = status;
            failure.reason = reason;
            m_server->route(kUpdatePath, failure);
        }
        m_boxes->click("CLOSE");
        QVERIFY(runToTheEnd());
        QCOMPARE(m_boxes->boxes.size(), 1);
        const QString text = m_boxes->boxes.first().text;
        const QString prefix =
            "Failed to download the installer package. The following error occurred:\n\n";
        QVERIFY2(text.startsWith(prefix) && text.size() > prefix.size(), qPrintable(text));
        // The server's words are cut to a readable length.
        QVERIFY(text.size() <= prefix.size() + 301);
        QCOMPARE(text.endsWith(QChar(0x2026)), !reason.isEmpty());
        QVERIFY(m_platform.queriedVolumes.isEmpty());
    }

    // Every failure shows one error box, installs nothing and ends the run.
    void failureEndsTheRun_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("closeAfter"); // -1: the whole body
        QTest::addColumn<bool>("fullDisk");  // the package's place is /dev/full
        QTest::addColumn<QString>("boxText");
        QTest::addColumn<QStringList>("left"); // files left in the data directory

        const QString failed = "Failed to download the installer package.\n\n";
        const QString occurred =
            "Failed to download the installer package. The following error occurred:\n\n";
        QByteArray damaged = m_storedZip;
        damaged[damaged.size() / 2] = char(damaged[damaged.size() / 2] ^ 0x55);

        QTest::newRow("server goes away")
            << "Corvantis-2.0.0.pkg" << m_package << 100000 << false
            << occurred + "Connection closed" << QStringList({"Corvantis-2.0.0.pkg"});
        QTest::newRow("disk full during the download")
            << "Corvantis-2.0.0.pkg" << m_package << -1 << true
            << occurred + "I/O failure (No space left on device)"
            << QStringList({"Corvantis-2.0.0.pkg"});
        QTest::newRow("archive that cannot be opened stays")
            << "Corvantis-2.0.0.zip" << QByteArray("this is not an archive") << -1 << false
            << failed + "Error code 1." << QStringList({"Corvantis-2.0.0.zip"});
        QTest::newRow("archive without the package is removed")
            << "Other.zip" << m_zip << -1 << false << failed + "Error code 3 (-100)."
            << QStringList();
        QTest::newRow("corrupted archive") << "Corvantis-2.0.0.zip" << damaged << -1 << false
                                           << failed + "Error code 6." << QStringList();
        QTest::newRow("disk full during the extraction")
            << "Corvantis-2.0.0.zip" << m_zip << -1 << true
            << failed + "Error code 8 (No space left on device)" << QStringList();
    }

    void failureEndsTheRun()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, body);
        QFETCH(int, closeAfter);
        QFETCH(bool, fullDisk);
        QFETCH(QString, boxText);
        QFETCH(QStringList, left);
        TestResponse package;
        package.body = body;
        package.closeAfter = closeAfter;
        offerPackage(name, package);
        if (fullDisk) {
            QDir().mkpath(dataDirectory());
            QVERIFY(QFile::link("/dev/full", dataDirectory() + "/Corvantis-2.0.0.pkg"));
        }
        m_boxes->click("CLOSE");

        QVERIFY(runToTheEnd());
        QCOMPARE(boxTexts(), QStringList({boxText}));
        QVERIFY(m_platform.scripts.isEmpty());
        QCOMPARE(dataFiles(), left);
    }

    // Addresses and names that must not be fetched or saved: refused before anything is made.
    void hostilePackageAddress_data()
    {
        QTest::addColumn<QString>("address"); // relative ones are on the test server
        QTest::addColumn<QString>("reason");

        const auto row = [](const char* tag, const QString& address, const QString& reason) {
            QTest::newRow(tag) << address << reason;
        };
        const QString notWeb = "The address %1 is not an HTTP or HTTPS address.";
        const QString unusable = "The address %1 does not name a file that can be saved.";
        const QString own = "The address %1 names a file of the installer's own.";
        row("local file", "file:///etc/passwd", notWeb);
        row("ftp", "ftp://127.0.0.1/Corvantis.pkg", notWeb);
        row("data", "data:application/octet-stream;base64,AAAA", notWeb);
        row("qrc", "qrc:/main/tavo.png", notWeb);
        row("the log's name", "/files/install_log.txt", own);
        row("the log's name in capitals", "/files/INSTALL_LOG.TXT", own);
        row("NUL in the name", "/files/Corvantis%00.pkg", unusable);
        row("line feed in the name", "/files/Corvantis%0A.pkg", unusable);
        row("no name", "/files/", unusable);
        row("dot dot", "/files/%2E%2E", unusable);
    }

    void hostilePackageAddress()
    {
        QFETCH(QString, address);
        QFETCH(QString, reason);
        if (address.startsWith('/'))
            address = m_server->url(address);
        TestResponse check;
        check.body = offer("2.0.0", address);
        m_server->route(kUpdatePath, check);
        m_boxes->click("CLOSE");

        LogTail log;
        QVERIFY(runToTheEnd());
        const QString shown = QUrl(address, QUrl::TolerantMode).toString(QUrl::FullyEncoded);
        QCOMPARE(boxTexts(), QStringList({"Failed to download the installer package.\n\n" +
                                          reason.arg(shown)}));
        QCOMPARE(m_server->requestedPaths(), QStringList({kUpdatePath}));
        QCOMPARE(dataFiles(), QStringList());
        // The log is still the log.
        QVERIFY(log.messages().contains("Installed Corvantis version:  \"\" , the most recent "
                                        "version on the server:  \"2.0.0\""));
        QVERIFY(m_platform.scripts.isEmpty());
    }

    // Runs in a process of its own (see unwritableDataDirectory): the log can be opened only
    // once per process.
    void unwritableDataDirectoryChild()
    {
        if (qEnvironmentVariableIsEmpty("CORVANTIS_CHILD"))
            QSKIP("runs as a child of unwritableDataDirectory");
        // The data directory's parent is a plain file, so it can never be made.
        const QString blocker = m_work.filePath("plain-file");
        QVERIFY(writeFile(blocker, "not a directory"));
        qputenv("XDG_DATA_HOME", blocker.toUtf8());
        offerPackage("Corvantis-2.0.0.pkg", m_package);
        m_boxes->click("CLOSE");

        QVERIFY(runToTheEnd());
        QCOMPARE(boxTexts(), QStringList({"Failed to download the installer package.\n\nThe "
                                          "directory " +
                                          dataDirectory() + " is not accessible."}));
        QCOMPARE(m_server->requestedPaths(), QStringList({kUpdatePath}));
    }

    void unwritableDataDirectory()
    {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("CORVANTIS_CHILD", "1");
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {"unwritableDataDirectoryChild"});
        QVERIFY(child.waitForFinished(60000));
        const QString output = QString::fromLocal8Bit(child.readAllStandardOutput());
        const QString errors = QString::fromLocal8Bit(child.readAllStandardError());
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 qPrintable(output + errors));
        QVERIFY2(output.contains("PASS   : TestWorkflow::unwritableDataDirectoryChild()"),
                 qPrintable(output));
        // The log went to standard error instead, record by record.
        QVERIFY2(errors.contains(":Installed Corvantis version:  \"\" , the most recent version "
                                 "on the server:  \"2.0.0\"\n"),
                 qPrintable(errors));
        QVERIFY(errors.contains(":Message displayed, title:  \"Corvantis Installer\" , text:  "
                                "\"Failed to download the installer package.\\n\\nThe "
                                "directory "));
    }

    // --- after the download ---

    void packageKinds_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("archive");
        QTest::newRow(".pkg") << "Corvantis-2.0.0.pkg" << false;
        QTest::newRow(".zip") << "Corvantis-2.0.0.zip" << true;
        QTest::newRow(".ZIP") << "Corvantis-2.0.0.ZIP" << true;
        QTest::newRow(".dmg is a package too") << "Corvantis-2.0.0.dmg" << false;
    }

    void packageKinds()
    {
        QFETCH(QString, name);
        QFETCH(bool, archive);
        offerPackage(name, archive ? m_zip : m_package);
        const QString package = dataDirectory() + "/" + (archive ? "Corvantis-2.0.0.pkg" : name);
        QByteArray installed;
        m_platform.onScript = [&](const QString&) {
            installed = readFile(package);
            installProduct("2.0.0");
        };
        m_boxes->click("NO");

        LogTail log;
        QVERIFY(runToTheEnd());
        QCOMPARE(m_platform.scripts, QStringList({launchScript(package)}));
        QVERIFY(installed == m_package);
        QVERIFY(log.messages().contains("A new installation, launch  \"" + package + "\""));
        QCOMPARE(boxTexts(), QStringList({kLaunchQuestion}));
        QCOMPARE(dataFiles(), QStringList());
        QVERIFY(!QFile::exists(mark()));
        QVERIFY(m_platform.checkedPackages.isEmpty()); // no team built in, no check
    }

    // With a team built in, the package's signature decides before the system installer runs.
    void packageSignature_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("update");
        QTest::addColumn<bool>("finished");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<bool>("accepted");

        const auto verdict = [](const QByteArray& status, const QByteArray& certificate) {
            return signatureVerdict(
                status, {certificate, "Developer ID Certification Authority", "Apple Root CA"},
                "Corvantis-2.0.0.pkg");
        };
        const QByteArray distribution =
            "signed by a developer certificate issued by Apple for distribution";
        const QByteArray ours =
            verdict(distribution, "Developer ID Installer: Halvery Ltd (H4LV3RY001)");
        QTest::newRow("signed .pkg, new installation")
            << "Corvantis-2.0.0.pkg" << false << true << 0 << ours << true;
        QTest::newRow("signed .zip, update")
            << "Corvantis-2.0.0.zip" << true << true << 0 << ours << true;
        QTest::newRow("another team's .zip")
            << "Corvantis-2.0.0.zip" << false << true << 0
            << verdict(distribution, "Developer ID Installer: Someone Else (ELSE000001)") << false;
        QTest::newRow("unsigned .pkg, update")
            << "Corvantis-2.0.0.pkg" << true << true << 1
            << QByteArray("Package \"Corvantis-2.0.0.pkg\":\n   Status: no signature\n") << false;
        QTest::newRow("no tool") << "Corvantis-2.0.0.pkg" << false << false << -1 << QByteArray()
                                 << false;
    }

    void packageSignature()
    {
        QFETCH(QString, name);
        QFETCH(bool, update);
        QFETCH(bool, finished);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, output);
        QFETCH(bool, accepted);
        m_team = "H4LV3RY001";
        m_platform.signature = ToolOutput{finished, exitCode, output};
        offerPackage(name, name.endsWith(".zip") ? m_zip : m_package);
        if (update) {
            installProduct("1.0.0");
            m_boxes->click("YES");
        }
        m_boxes->click(accepted ? "NO" : "CLOSE");

        LogTail log;
        QVERIFY(runToTheEnd());
        const QString package = dataDirectory() + "/Corvantis-2.0.0.pkg";
        QCOMPARE(m_platform.checkedPackages, QStringList({package}));
        QVERIFY(log.messages().contains("Signature check of  " + package +
                                        (accepted ? " : signed by " : " : not signed by ") +
                                        " H4LV3RY001 , the tool said:\n " + output));
        if (accepted) {
            QCOMPARE(m_platform.scripts, QStringList({update ? installScript(package, volume())
                                                             : launchScript(package)}));
        } else {
            QVERIFY(m_platform.scripts.isEmpty());
            QCOMPARE(boxTexts().last(),
                     QString("The downloaded package is not signed by Halvery, so it was not "
                             "installed.\n\nPlease contact support@halvery.com."));
            QCOMPARE(m_boxes->boxes.last().objectNames, QStringList({"CLOSE"}));
            QCOMPARE(m_boxes->boxes.last().icon, QMessageBox::Critical);
        }
        QCOMPARE(dataFiles(), QStringList());
        QVERIFY(!QFile::exists(mark()));
    }

    void installationFails_data()
    {
        QTest::addColumn<bool>("update");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("boxText");

        QTest::newRow("update cancelled")
            << true << -128 << "User canceled."
            << "Failed to update Corvantis.\n\nThe administrator password is required to do this.";
        QTest::newRow("update fails") << true << 1 << "The installation failed."
                                      << "Failed to update Corvantis.\n\nThe "
                                         "installation failed.";
        QTest::newRow("new installation cancelled")
            << false << -128 << QString()
            << "Failed to install Corvantis.\n\nThe administrator password is required to do this.";
        QTest::newRow("new installation fails silently")
            << false << 0 << QString() << "Failed to install Corvantis.\n\n";
    }

    void installationFails()
    {
        QFETCH(bool, update);
        QFETCH(int, number);
        QFETCH(QString, message);
        QFETCH(QString, boxText);

        offerPackage("Corvantis-2.0.0.zip", m_zip);
        m_platform.outcome.succeeded = false;
        if (number != 0)
            m_platform.outcome.errorNumber = number;
        if (!message.isNull())
            m_platform.outcome.errorMessage = message;
        if (update) {
            installProduct("1.0.0");
            m_boxes->click("YES");
        }
        m_boxes->click("CLOSE");

        LogTail log;
        QVERIFY(runToTheEnd());
        const QString package = dataDirectory() + "/Corvantis-2.0.0.pkg";
        QCOMPARE(m_platform.scripts,
                 QStringList({update ? installScript(package, volume()) : launchScript(package)}));
        QVERIFY(log.messages().contains(
            (update ? "Update at  \"" : "A new installation, launch  \"") + package + "\""));
        QCOMPARE(boxTexts().last(), boxText);
        QCOMPARE(dataFiles(), QStringList());
    }

    void launchQuestion_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("launched");
        QTest::newRow("YES") << "YES" << true;
        QTest::newRow("NO") << "NO" << false;
        QTest::newRow("Return") << "Return" << false;
        QTest::newRow("Escape") << "Escape" << false;
    }

    // From the update check to the launch of the product.
    void launchQuestion()
    {
        QFETCH(QString, answer);
        QFETCH(bool, launched);
        offerPackage("Corvantis-2.0.0.zip", m_zip);
        installOnScript("2.0.0");
        answerQuestion(answer);

        QVERIFY(runToTheEnd());
        QCOMPARE(boxTexts(), QStringList({kLaunchQuestion}));
        const BoxAnswerer::Box& box = m_boxes->boxes.first();
        QCOMPARE(box.objectNames, QStringList({"NO", "LOAD"}));
        QCOMPARE(box.defaultCaption, QString("NO"));
        QCOMPARE(dataFiles(), QStringList());
        if (launched) {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(mark()), 10000);
        } else {
            // A started product would have left its mark by now.
            QTest::qWait(300);
            QVERIFY(!QFile::exists(mark()));
        }
    }

    void productNotFoundAfterInstalling()
    {
        offerPackage("Corvantis-2.0.0.pkg", m_package);
        QVERIFY(runToTheEnd());
        QCOMPARE(m_platform.scripts.size(), 1);
        QVERIFY(m_boxes->boxes.isEmpty());
        QCOMPARE(dataFiles(), QStringList());
    }

    void updateWithTheProductGoneTargetsTheStartUpVolume()
    {
        offerPackage("Corvantis-2.0.0.pkg", m_package);
        installProduct("1.0.0");
        m_boxes->click("YES", [this] { removeProduct(); });
        QVERIFY(runToTheEnd());
        QCOMPARE(m_platform.scripts,
                 QStringList({installScript(dataDirectory() + "/Corvantis-2.0.0.pkg", "/")}));
    }

    void packageThatCannotBeRemoved_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("archive") << "Corvantis-2.0.0.zip";
        QTest::newRow("package") << "Corvantis-2.0.0.pkg";
    }

    void packageThatCannotBeRemoved()
    {
        QFETCH(QString, name);
        offerPackage(name, name.endsWith(".zip") ? m_zip : m_package);
        const QString package = dataDirectory() + "/Corvantis-2.0.0.pkg";
        // The system's installer leaves something in the package's place that cannot be
        // removed as a file.
        m_platform.onScript = [&](const QString&) {
            QFile::remove(package);
            QDir().mkpath(package + "/Contents");
        };
        m_boxes->click("CLOSE");

        QVERIFY(runToTheEnd());
        QCOMPARE(boxTexts(), QStringList({"Failed to remove file.\n\n" + package}));
        QCOMPARE(dataFiles(), QStringList({"Corvantis-2.0.0.pkg"}));
    }
};

CORVANTIS_TEST_MAIN(TestWorkflow)
#include "tst_workflow.moc"
