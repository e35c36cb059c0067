// The installer's whole run in process, once per flow: a real update server on 127.0.0.1, the
// window's boxes answered by the test, and a fake platform playing the receipts, the package
// tool and the system's installer.

#include "applescripts.h"
#include "boxanswerer.h"
#include "corvantis.h"
#include "fakeplatform.h"
#include "installerwindow.h"
#include "logtail.h"
#include "standins.h"
#include "systemplatform.h"
#include "testenvironment.h"
#include "testserver.h"

#include <QtWidgets>

#include <memory>

#include <sys/prctl.h>
#include <sys/wait.h>

static const QString kUpdatePath = Corvantis::kUpdatePath;
static const QString kTeam = "H4LV3RY001";

class TestWorkflow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_work;
    std::unique_ptr<TestServer> m_server;
    FakePlatform m_platform;
    std::unique_ptr<BoxAnswerer> m_boxes;
    std::unique_ptr<StandIns> m_standIns;
    std::unique_ptr<InstallerWindow> m_window;
    QByteArray m_package, m_zip;
    QString m_team;

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

    // An update that needs the team's signature: the early check sees it, and the privileged
    // script runs through the stand-ins, whose package tool says the same of these bytes only.
    void requireTheTeam()
    {
        m_team = kTeam;
        m_platform.signature.output = teamVerdict();
        m_platform.scriptRunner = &SystemPlatform::instance();
        m_standIns->setOutput(m_platform.signature.output, 0);
        m_standIns->setSignedPackage(m_package);
    }

    void offerPackage(const QString& name, const TestResponse& package)
    {
        const QString check = R"([{"mac_installer_version": "2.0.0", "mac_installer_file": "%1",
                                   "mac_app_version": "2.0.0", "mac_app_file": "x"}])";
        m_server->route(kUpdatePath, {200, check.arg(m_server->url("/files/" + name)).toUtf8()});
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

    QStringList dataFiles() const
    {
        QStringList files =
            QDir(dataDirectory()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
        files.removeAll(Corvantis::kLogFileName);
        return files;
    }

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        // A product the installer starts detached becomes a child of this process, so that a run
        // knows without waiting whether it started one.
        QVERIFY(prctl(PR_SET_CHILD_SUBREAPER, 1) == 0);
        for (int i = 0; i < 300000; ++i)
            m_package += char((i * 7 + i / 1000) & 0xff);
        // A real archive holding the package, made by Info-ZIP.
        const QString package = m_work.filePath("Corvantis-2.0.0.pkg"), zip = package + ".zip";
        QVERIFY(writeFile(package, m_package));
        QCOMPARE(QProcess::execute("zip", {"-q", "-X", "-j", zip, package}), 0);
        m_zip = readFile(zip);
    }

    void init()
    {
        m_server = std::make_unique<TestServer>();
        QVERIFY(m_server->listen());
        m_platform = FakePlatform();
        m_team.clear();
        m_boxes = std::make_unique<BoxAnswerer>();
        m_standIns = std::make_unique<StandIns>();
        QDir(volume()).removeRecursively();
        QFile::remove(mark());
        for (const QString& name : dataFiles())
            QVERIFY(QFile::remove(dataDirectory() + "/" + name) ||
                    QDir(dataDirectory() + "/" + name).removeRecursively());
    }

    void cleanup()
    {
        m_window.reset();
        m_server.reset();
        m_standIns.reset();
        QCOMPARE(m_boxes->unexpected, 0);
    }

    void successfulRuns_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("installed"); // empty: nothing installed; else a signed update
        QTest::addColumn<QString>("answers");   // to the boxes; none: the product does not appear
        const auto row = [](const char* tag, const char* name, const char* installed,
                            const char* answers) {
            QTest::newRow(tag) << QString(name) << QString(installed) << QString(answers);
        };
        row("new from .pkg, launched", "Corvantis-2.0.0.pkg", "", "YES");
        row("new from .ZIP, not launched", "Corvantis-2.0.0.ZIP", "", "NO");
        row("signed update, not launched", "Corvantis-2.0.0.zip", "1.0.0", "YES Escape");
        row("product not found afterwards", "Corvantis-2.0.0.pkg", "", "");
    }

    void successfulRuns()
    {
        QFETCH(QString, name);
        QFETCH(QString, installed);
        QFETCH(QString, answers);
        const bool productAppears = !answers.isEmpty();
        offerPackage(name, {200, name.endsWith(".pkg") ? m_package : m_zip});
        const bool update = !installed.isEmpty();
        if (update) {
            installProduct(installed);
            requireTheTeam();
        }
        for (const QString& text : answers.split(' ', Qt::SkipEmptyParts))
            text == "Escape" ? m_boxes->press(Qt::Key_Escape) : m_boxes->click(text);
        const QString pkg = dataDirectory() + "/Corvantis-2.0.0.pkg";
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
        // What root installed is its own copy of the checked bytes, gone afterwards.
        const QStringList installer = m_standIns->recordedArguments();
        QVERIFY(!update || (installer.value(0) == "-pkg" &&
                            installer.mid(2) == QStringList({"-target", volume()}) &&
                            !QFileInfo::exists(QFileInfo(installer[1]).path())));
        QVERIFY(m_standIns->installedPackage() == (update ? m_package : QByteArray()));
        const QString script =
            update ? Corvantis::installScript(pkg, volume(), kTeam, m_package.size())
                   : "do shell script \"/usr/bin/open '-W' '" + pkg + "'\"";
        QCOMPARE(m_platform.scripts, QStringList({script}));
        QCOMPARE(m_platform.checkedPackages, update ? QStringList({pkg}) : QStringList());
        QStringList records = {"Installed Corvantis version:  \"" + installed +
                               "\" , the most recent version on the server:  \"2.0.0\""};
        if (update)
            records << "Signature check of  " + pkg + " : signed by  " + kTeam +
                           " , the tool said:\n " + m_platform.signature.output
                    << "Update at  \"" + pkg + "\"";
        else
            records << "A new installation, launch  \"" + pkg + "\"";
        records << "About to launch the script: ' " + script + " '";
        QCOMPARE(log.messages().filter(QRegularExpression("^(Inst|A new|About|Sig|Update)")),
                 records);

        QStringList boxes;
        if (update)
            boxes << "An older version of Corvantis (v1.0.0) is installed already.\n\nReplace it "
                     "with version 2.0.0?";
        if (productAppears)
            boxes << "Installation finished. Would you like to launch Corvantis?";
        QStringList texts;
        for (const BoxAnswerer::Box& box : qAsConst(m_boxes->boxes)) { // NO, the default, is filled
            QVERIFY(box.objectNames == QStringList({"NO", "LOAD"}) && box.defaultCaption == "NO");
            texts << box.text;
        }
        QCOMPARE(texts, boxes);
        QCOMPARE(dataFiles(), QStringList());
        const bool launched = answers == "YES";
        QVERIFY(!launched || runEventsUntil([this] { return QFile::exists(mark()); }, 10000));
        QCOMPARE(waitpid(-1, nullptr, 0) > 0, launched); // the product's end, or no product
    }

    // Each refusal and each class of failure ends in one box, installs nothing more and ends the
    // run; a refusal downloads nothing.
    void failures_data()
    {
        QTest::addColumn<QString>("text"); // "%1": the server's address
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<QString>("name"); // of the package offered
        const QString failed = "Failed to download the installer package.\n\n";
        const QString occurred =
            "Failed to download the installer package. The following error occurred:\n\n";
        const auto row = [](const char* tag, const QString& text, const QStringList& left = {},
                            const QString& name = "Corvantis-2.0.0.zip") {
            QTest::newRow(tag) << text << left << name;
        };
        row("same version installed", "This version of Corvantis (v2.0.0) is installed already.");
        row("older version kept", "An older version of Corvantis (v1.0.0) is installed already.\n\n"
                                  "Replace it with version 2.0.0?");
        row("update check fails", occurred + "Error transferring %1/wp-json/v2/check-update - "
                                             "server replied: Internal Server Error");
        row("answer past the bound",
            "Unexpected server response.\nPlease contact support@halvery.com.");
        row("address names the log",
            failed + "The address %1/files/install_log.txt names a file of the installer's own.",
            {}, Corvantis::kLogFileName);
        row("download cut", occurred + "Connection closed", {"Corvantis-2.0.0.pkg"},
            "Corvantis-2.0.0.pkg");
        row("archive unreadable, kept", failed + "Error code 1.", {"Corvantis-2.0.0.zip"});
        row("package not in the archive", failed + "Error code 3 (-100).", {}, "Other.zip");
        row("not signed by the team",
            "The downloaded package is not signed by Halvery, so it was not installed.\n\n"
            "Please contact support@halvery.com.");
        row("update cancelled",
            "Failed to update Corvantis.\n\nThe administrator password is required to do this.");
        // Another program of the user puts its own package in place of the checked one.
        for (const char* how : {"renamed over it at the prompt", "rewritten at the prompt",
                                "rewritten after the early check"})
            for (const char* kind : {".pkg", ".zip"})
                row(qPrintable(QString("swapped: %1, %2").arg(how, kind)),
                    "Failed to update Corvantis.\n\nThe package was changed after its signature "
                    "was checked, so it was not installed.",
                    {}, QString("Corvantis-2.0.0") + kind);
        row("installation fails", "Failed to install Corvantis.\n\nThe installation failed.");
        row("package cannot be removed",
            "Failed to remove file.\n\n" + dataDirectory() + "/Corvantis-2.0.0.pkg",
            {"Corvantis-2.0.0.pkg"});
    }

    void failures()
    {
        const QString failure = QTest::currentDataTag();
        const bool swapped = failure.startsWith("swapped");
        const bool ranInstaller = swapped || QStringList({"update cancelled", "installation fails",
                                                          "package cannot be removed"})
                                                 .contains(failure);
        QFETCH(QString, text);
        QFETCH(QStringList, left);
        QFETCH(QString, name);
        TestResponse package{200, name.endsWith(".pkg") ? m_package : m_zip};
        package.closeAfter = failure == "download cut" ? 100000 : -1;
        if (failure == "archive unreadable, kept")
            package.body = "not an archive";
        offerPackage(name, package);
        if (failure == "update check fails" || failure == "answer past the bound")
            m_server->route(kUpdatePath, {failure == "answer past the bound" ? 200 : 500,
                                          QByteArray(8 << 20, 'a')});
        if (failure == "not signed by the team") {
            m_team = kTeam;
            m_platform.signature = Corvantis::ToolOutput{true, 1, "Status: no signature"};
        }
        if (failure == "same version installed")
            installProduct("2.0.0");
        if (failure == "older version kept" || failure == "update cancelled" || swapped) {
            installProduct("1.0.0");
            m_boxes->click(failure == "older version kept" ? "NO" : "YES");
        }
        if (swapped) {
            requireTheTeam();
            const QByteArray theirs = "another program's package";
            if (failure.contains("after the early check"))
                m_platform.afterSignature = [=](const QString& path) {
                    writeFile(path, theirs);
                };
            else
                m_standIns->swapAtPrompt(failure.contains("renamed") ? "rename" : "rewrite", theirs,
                                         dataDirectory() + "/Corvantis-2.0.0.pkg");
        }
        if (failure == "update cancelled" || failure == "installation fails")
            m_platform.outcome =
                Corvantis::ScriptOutcome{false, failure == "update cancelled" ? -128 : 1,
                                         QString("The installation failed.")};
        if (failure == "package cannot be removed") {
            // The system's installer leaves something in the package's place that is no file.
            m_platform.onScript = [this](const QString&) {
                QFile::remove(dataDirectory() + "/Corvantis-2.0.0.pkg");
                QDir().mkpath(dataDirectory() + "/Corvantis-2.0.0.pkg/Contents");
            };
        }
        m_boxes->click("CLOSE");

        LogTail log;
        QVERIFY(runToTheEnd());
        const BoxAnswerer::Box box = m_boxes->boxes.last();
        const bool refused = text.contains("installed already");
        QCOMPARE(box.text, text.arg(m_server->baseUrl()));
        QVERIFY(box.icon == (refused ? QMessageBox::Warning : QMessageBox::Critical));
        QCOMPARE(box.captions.join(' '),
                 QString(failure == "older version kept" ? "YES NO" : "CLOSE"));
        QCOMPARE(box.modality, Qt::WindowModal);
        QVERIFY(!refused || m_server->requestedPaths() == QStringList({kUpdatePath}));
        QCOMPARE(dataFiles(), left);
        QCOMPARE(m_platform.scripts.size(), ranInstaller ? 1 : 0);
        QCOMPARE(m_platform.checkedPackages.size(), m_team.isEmpty() ? 0 : 1);
        QVERIFY(m_standIns->installedPackage().isEmpty());
        if (failure == "answer past the bound")
            QVERIFY(log.messages().contains(
                "Could't update, unexpected response\n " + QString(65536, 'a') +
                "\n[... the answer has more than 1048576 bytes; the first 65536 are logged]"));
    }

    // Without a product the scan's answer is the start-up volume, and the caller's version stays.
    void installedInfoWithoutAProduct()
    {
        m_server->hang(kUpdatePath); // the window stays idle
        startWindow();
        QString found, version = "caller's";
        m_window->getInstalledInfo(found, version);
        QCOMPARE(found + " " + version, "/ caller's");
    }

    void cancelRemovesAPartialPackage()
    {
        offerPackage("slow.pkg", {200, m_package, {}, false, -1, 1000});
        startWindow();
        const QString partial = dataDirectory() + "/slow.pkg";
        auto* bar = m_window->findChild<QProgressBar*>("progressBar");
        QVERIFY(runEventsUntil([&] { return QFileInfo(partial).size() > 0 && bar->value() >= 30; },
                               20000));
        m_window->findChild<QPushButton*>("buttonCancel")->click();
        QVERIFY(!m_window->isVisible());
        QVERIFY(!QFile::exists(partial));
        QVERIFY(m_platform.scripts.isEmpty());
    }
};

QTEST_MAIN(TestWorkflow)
#include "tst_workflow.moc"
