// Saves the installer window as the user sees it while a download runs: builds the real form,
// gives the logo its image as the window does, and grabs it offscreen.
#include "ui_installerwindow.h"

#include <QApplication>
#include <QMainWindow>
#include <QPixmap>
#include <QTextStream>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);

    QTextStream err(stderr);
    if (argc != 3) {
        err << "usage: formshot <output.png> <progress 0-1000>\n";
        return 1;
    }

    QMainWindow window;
    Ui::InstallerWindow form;
    form.setupUi(&window);
    form.logo->setImage(":/main/tavo.png");
    form.progressBar->setValue(QString::fromLocal8Bit(argv[2]).toInt());
    window.show();

    const QString path = QString::fromLocal8Bit(argv[1]);
    if (!window.grab().save(path, "PNG")) {
        err << "formshot: cannot write " << path << "\n";
        return 1;
    }
    return 0;
}
