#include "installerwindow.h"

#import <AppKit/AppKit.h>

void InstallerWindow::setupTitle()
{
    NSView* view = reinterpret_cast<NSView*>(winId());
    NSWindow* window = [view window];
    [window setTitlebarAppearsTransparent:YES];
    // The single-precision 0.33 widened, as the window's grey has always been drawn.
    const double grey = double(0.33f);
    [window setBackgroundColor:[NSColor colorWithRed:grey green:grey blue:grey alpha:1.0]];
    [window setAppearance:[NSAppearance appearanceNamed:NSAppearanceNameVibrantDark]];
    [[window standardWindowButton:NSWindowMiniaturizeButton] setHidden:YES];
    [[window standardWindowButton:NSWindowZoomButton] setHidden:YES];
}
