// The installer's whole run in process, once per flow: a real update server on 127.0.0.1, the
// window's boxes answered by the test, and a fake platform playing the receipts, the package
// tool and the system's installer.

#include "boxanswerer.h"
#include "corvantis.h"
#include "fakeplatform.h"
#include "installerwindow.h"
#include "logtail.h"
#include "testenvironment.h"
#include "testserver.h"

#include <QDir>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

const QString kUpdatePath = Corvantis::kUpdatePath;
const QString kTeam = "H4LV3RY001";
const QString kLaunchQuestion = "Installation finished. Would you like to launch Corvantis?";

} // namespace

class TestWorkflow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_work;
    std::unique_ptr<TestServer> m_server;
    FakePlatform m_platform;
    std::unique_ptr<BoxAnswerer> m_boxes;
    std::unique_ptr<InstallerWindow> m_window;
    QByteArray m_package;
    QByteArray m_zip;
    QString m_team;

    QString data() const { return TestEnvironment::dataDirectory(); }
    QString volume() const { return m_work.filePath("volume") + "/"; }
    QString mark() const { return m_work.filePath("launched"); }

    // The product on the test volume, with its receipt; the executable leaves a mark when run.
    void installProduct(const QString& version)
    {
        const QString executable = volume() + Corvantis::kProductExecutable;
        QVERIFY(writeFile(executable, "#!/bin/sh\necho > '" + mark().toUtf8() + "'\n"));
        QFile::setPermissions(executable, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_platform.volumes = QStringList({"/", "/Volumes/Test"});
        m_platform.receipts["/Volumes/Test"] = "version: " + version + "\nvolume: " + volume();
    }

    void offerPackage(const QString& name, const TestResponse& package)
    {
        TestResponse check;
        check.body = QString(R"([{"mac_installer_version": "2.0.0", "mac_installer_file": "%1",
                                  "mac_app_version": "2.0.0", "mac_app_file": "x"}])")
                         .arg(m_server->url("/files/" + name))
                         .toUtf8();
        m_server->route(kUpdatePath, check);
        m_server->route("/files/" + name, package);
    }

    void startWindow()
    {
        m_window =
            std::make_unique<InstallerWindow>(nullptr, &m_platform, m_server->baseUrl(), m_team);
        m_window->show();
    }

    // Every path of the installer ends with the window closed.
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

    QStringList dataFiles() const
    {
        QStringList files = QDir(data()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
        files.removeAll(Corvantis::kLogFileName);
        return files;
    }

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        for (int i = 0; i < 300000; ++i)
            m_package += char((i * 7 + i / 1000) & 0xff);
        // A real archive holding the package, made by Info-ZIP.
        QVERIFY(writeFile(m_work.filePath("Corvantis-2.0.0.pkg"), m_package));
        QProcess zip;
        zip.setWorkingDirectory(m_work.path());
        zip.start("zip", {"-q", "-X", "package.zip", "Corvantis-2.0.0.pkg"});
        QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
        m_zip = readFile(m_work.filePath("package.zip"));
    }

    void init()
    {
        m_server = std::make_unique<TestServer>();
        QVERIFY(m_server->listen());
        m_platform = FakePlatform();
        m_team.clear();
        m_boxes = std::make_unique<BoxAnswerer>();
        QDir(volume()).removeRecursively();
        QFile::remove(mark());
        for (const QString& name : dataFiles())
            QVERIFY(QFile::remove(data() + "/" + name) ||
                    QDir(data() + "/" + name).removeRecursively());
    }

    void cleanup()
    {
        m_window.reset();
        QCOMPARE(m_boxes->unexpected, 0);
        m_server.reset();
    }

    void successfulRuns_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("installed"); // empty: nothing installed
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<bool>("productAppears");
        QTest::addColumn<bool>("signatureChecked");
        QTest::newRow("new from .pkg, launched") << "Corvantis-2.0.0.pkg"
                                                 << "" << QStringList({"YES"}) << true << false;
        QTest::newRow("new from .ZIP, not launched") << "Corvantis-2.0.0.ZIP"
                                                     << "" << QStringList({"NO"}) << true << false;
        QTest::newRow("signed update, not launched")
            << "Corvantis-2.0.0.zip"
            << "1.0.0" << QStringList({"YES", "Escape"}) << true << true;
        QTest::newRow("product not found afterwards") << "Corvantis-2.0.0.pkg"
                                                      << "" << QStringList() << false << false;
    }

    void successfulRuns()
    {
        QFETCH(QString, name);
        QFETCH(QString, installed);
        QFETCH(QStringList, answers);
        QFETCH(bool, productAppears);
        QFETCH(bool, signatureChecked);
        TestResponse package;
        package.body = name.endsWith(".pkg") ? m_package : m_zip;
        offerPackage(name, package);
        if (!installed.isEmpty())
            installProduct(installed);
        if (signatureChecked) {
            m_team = kTeam;
            m_platform.signature.output = signatureVerdict(
                "signed by a developer certificate issued by Apple for distribution",
                {"Developer ID Installer: Halvery Ltd (H4LV3RY001)"}, "C.pkg");
        }
        for (const QString& text : answers)
            text == "Escape" ? m_boxes->press(Qt::Key_Escape) : m_boxes->click(text);
        const QString pkg = data() + "/Corvantis-2.0.0.pkg";
        QByteArray seen;
        int bar = -1;
        m_platform.onScript = [&](const QString&) {
            seen = readFile(pkg);
            bar = m_window->findChild<QProgressBar*>("progressBar")->value();
            if (productAppears)
                installProduct("2.0.0");
        };

        LogTail log;
        QVERIFY(runToTheEnd());
        QCOMPARE(m_server->requestedPaths(), QStringList({kUpdatePath, "/files/" + name}));
        QVERIFY(seen == m_package);
        QCOMPARE(bar, 1000);
        const QString script = installed.isEmpty()
                                   ? "do shell script \"/usr/bin/open '-W' '" + pkg + "'\""
                                   : "do shell script \"/usr/sbin/installer -pkg '" + pkg +
                                         "' -target '" + volume() +
                                         "'\" with administrator privileges";
        QCOMPARE(m_platform.scripts, QStringList({script}));
        const QStringList records = log.messages();
        QVERIFY(records.contains("Installed Corvantis version:  \"" + installed +
                                 "\" , the most recent version on the server:  \"2.0.0\""));
        QVERIFY(records.contains(installed.isEmpty() ? "A new installation, launch  \"" + pkg + "\""
                                                     : "Update at  \"" + pkg + "\""));
        QVERIFY(records.contains("About to launch the script: ' " + script + " '"));
        QCOMPARE(m_platform.checkedPackages, signatureChecked ? QStringList({pkg}) : QStringList());
        if (signatureChecked)
            QVERIFY(records.contains("Signature check of  " + pkg + " : signed by  " + kTeam +
                                     " , the tool said:\n " + m_platform.signature.output));

        QStringList boxes;
        if (!installed.isEmpty())
            boxes << "An older version of Corvantis (v1.0.0) is installed already.\n\nReplace it "
                     "with version 2.0.0?";
        if (productAppears)
            boxes << kLaunchQuestion;
        QCOMPARE(boxTexts(), boxes);
        if (productAppears) {
            QCOMPARE(m_boxes->boxes.last().objectNames, QStringList({"NO", "LOAD"}));
            QCOMPARE(m_boxes->boxes.last().defaultCaption, QString("NO"));
        }
        QCOMPARE(dataFiles(), QStringList());
        if (answers.value(0) == "YES" && installed.isEmpty()) {
            QVERIFY(runEventsUntil([this] { return QFile::exists(mark()); }, 10000));
        } else {
            QTest::qWait(300); // a started product would have left its mark by now
            QVERIFY(!QFile::exists(mark()));
        }
    }

    // The window's own refusals: the decision's box, then the end, without a download.
    void refusals_data()
    {
        QTest::addColumn<QString>("installed");
        QTest::addColumn<QString>("answer");
        QTest::newRow("same version") << "2.0.0"
                                      << "CLOSE";
        QTest::newRow("older version, NO") << "1.0.0"
                                           << "NO";
    }

    void refusals()
    {
        QFETCH(QString, installed);
        QFETCH(QString, answer);
        offerPackage("Corvantis-2.0.0.pkg", TestResponse());
        installProduct(installed);
        m_boxes->click(answer);
        QVERIFY(runToTheEnd());
        QCOMPARE(m_boxes->boxes.size(), 1);
        QVERIFY(m_boxes->boxes[0].text.contains("(v" + installed + ") is installed already."));
        QCOMPARE(m_boxes->boxes[0].icon, QMessageBox::Warning);
        QCOMPARE(m_boxes->boxes[0].modality, Qt::WindowModal);
        QCOMPARE(m_server->requestedPaths(), QStringList({kUpdatePath}));
    }

    // Each class of failure ends in one error box, installs nothing more and ends the run.
    void failures_data()
    {
        QTest::addColumn<QString>("text"); // "%1": the server's address
        QTest::addColumn<QStringList>("left");
        const QString failed = "Failed to download the installer package.\n\n";
        const auto row = [](const char* tag, const QString& text, const QStringList& left = {}) {
            QTest::newRow(tag) << text << left;
        };
        row("update check fails",
            "Failed to download the installer package. The following error occurred:\n\nError "
            "transferring %1/wp-json/v2/check-update - server replied: Internal Server Error");
        row("answer past the bound",
            "Unexpected server response.\nPlease contact support@halvery.com.");
        row("address names the log",
            failed + "The address %1/files/install_log.txt names a file of the installer's own.");
        row("download cut",
            "Failed to download the installer package. The following error occurred:\n\nConnection "
            "closed",
            {"Corvantis-2.0.0.pkg"});
        row("archive unreadable, kept", failed + "Error code 1.", {"Corvantis-2.0.0.zip"});
        row("package not in the archive", failed + "Error code 3 (-100).");
        row("not signed by the team",
            "The downloaded package is not signed by Halvery, so it was not installed.\n\n"
            "Please contact support@halvery.com.");
        row("update cancelled",
            "Failed to update Corvantis.\n\nThe administrator password is required to do this.");
        row("installation fails", "Failed to install Corvantis.\n\nThe installation failed.");
        row("package cannot be removed",
            "Failed to remove file.\n\n" + TestEnvironment::dataDirectory() +
                "/Corvantis-2.0.0.pkg",
            {"Corvantis-2.0.0.pkg"});
    }

    void failures()
    {
        const QString failure = QTest::currentDataTag();
        const bool ranInstaller = failure == "update cancelled" ||
                                  failure == "installation fails" ||
                                  failure == "package cannot be removed";
        QFETCH(QString, text);
        QFETCH(QStringList, left);
        QString name = "Corvantis-2.0.0.zip";
        TestResponse package;
        package.body = m_zip;
        if (failure == "download cut") {
            name = "Corvantis-2.0.0.pkg";
            package.body = m_package;
            package.closeAfter = 100000;
        }
        if (failure == "address names the log")
            name = Corvantis::kLogFileName;
        if (failure == "archive unreadable, kept")
            package.body = "not an archive";
        if (failure == "package not in the archive")
            name = "Other.zip";
        offerPackage(name, package);
        TestResponse check;
        check.status = failure == "update check fails" ? 500 : 200;
        check.body = QByteArray(8 << 20, 'a');
        if (failure == "update check fails" || failure == "answer past the bound")
            m_server->route(kUpdatePath, check);
        if (failure == "not signed by the team") {
            m_team = kTeam;
            m_platform.signature = ToolOutput{true, 1, "Status: no signature"};
        }
        if (failure == "update cancelled") {
            installProduct("1.0.0");
            m_boxes->click("YES");
        }
        if (failure == "update cancelled" || failure == "installation fails")
            m_platform.outcome = ScriptOutcome{false, failure == "update cancelled" ? -128 : 1,
                                               QString("The installation failed.")};
        if (failure == "package cannot be removed") {
            // The system's installer leaves something in the package's place that is no file.
            m_platform.onScript = [this](const QString&) {
                QFile::remove(data() + "/Corvantis-2.0.0.pkg");
                QDir().mkpath(data() + "/Corvantis-2.0.0.pkg/Contents");
            };
        }
        m_boxes->click("CLOSE");

        LogTail log;
        QVERIFY(runToTheEnd());
        QCOMPARE(boxTexts().last(), text.arg(m_server->baseUrl()));
        QCOMPARE(m_boxes->boxes.last().icon, QMessageBox::Critical);
        QCOMPARE(m_boxes->boxes.last().objectNames, QStringList({"CLOSE"}));
        QCOMPARE(dataFiles(), left);
        QCOMPARE(m_platform.scripts.size(), ranInstaller ? 1 : 0);
        QCOMPARE(m_platform.checkedPackages.size(), failure == "not signed by the team" ? 1 : 0);
        if (failure == "answer past the bound")
            QVERIFY(log.messages().contains(
                "Could't update, unexpected response\n " + QString(65536, 'a') +
                "\n[... the answer has more than 1048576 bytes; the first 65536 are logged]"));
    }

    void cancelRemovesAPartialPackage()
    {
        TestResponse slow;
        slow.body = m_package;
        slow.trickleBytes = 1000;
        slow.trickleIntervalMs = 20;
        offerPackage("slow.pkg", slow);
        startWindow();
        const QString partial = data() + "/slow.pkg";
        auto* bar = m_window->findChild<QProgressBar*>("progressBar");
        QVERIFY(runEventsUntil([&] { return QFileInfo(partial).size() > 0 && bar->value() >= 30; },
                               20000));
        m_window->findChild<QPushButton*>("buttonCancel")->click();
        QVERIFY(!m_window->isVisible());
        QVERIFY(!QFile::exists(partial));
        QVERIFY(m_platform.scripts.isEmpty());
    }

    void progressBar_data()
    {
        QTest::addColumn<qulonglong>("received");
        QTest::addColumn<qulonglong>("total");
        QTest::addColumn<int>("shown");
        QTest::newRow("first byte") << 1ull << 1000000ull << 30;
        QTest::newRow("half") << 500000ull << 1000000ull << 500;
        QTest::newRow("no total") << 500ull << 0ull << 0;
        QTest::newRow("beyond 4 GiB") << (5ull << 30) << (6ull << 30) << 833;
    }

    void progressBar()
    {
        QFETCH(qulonglong, received);
        QFETCH(qulonglong, total);
        QFETCH(int, shown);
        m_server->hang(kUpdatePath);
        startWindow();
        QVERIFY(QMetaObject::invokeMethod(m_window.get(), "on_progress",
                                          Q_ARG(qulonglong, received), Q_ARG(qulonglong, total)));
        QCOMPARE(m_window->findChild<QProgressBar*>("progressBar")->value(), shown);
    }
};

CORVANTIS_TEST_MAIN(TestWorkflow)
#include "tst_workflow.moc"
