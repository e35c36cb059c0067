#include <QApplication>

#include "corvantis.h"
#include "installerwindow.h"

int main(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication application(argc, argv);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    QCoreApplication::setApplicationName(Corvantis::kApplicationName);
    QCoreApplication::setOrganizationName(Corvantis::kOrganizationName);
    QCoreApplication::setOrganizationDomain(Corvantis::kOrganizationDomain);

    InstallerWindow window(nullptr);
    window.show();
    return application.exec();
}
