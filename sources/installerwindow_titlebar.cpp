#include "installerwindow.h"

// The transparent dark title bar is an AppKit feature; other systems keep their own.
void InstallerWindow::setupTitle()
{
}
