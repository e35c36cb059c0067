// Stands in front of GNUstep's AppKit.h, for scripts/check-mac-sources.sh only: the newer AppKit
// names that sources/*.mm use and GNUstep lacks, declared as Apple's SDK declares them
// (availability macros left out). Declarations only: the check compiles, it never links.
#pragma once

#include_next <AppKit/AppKit.h>

NS_ASSUME_NONNULL_BEGIN

// NSWindow.h (macOS 10.10).
@interface NSWindow (MissingInGNUstep)
@property BOOL titlebarAppearsTransparent;
@end

// NSAppearance.h: NSWindow adopts NSAppearanceCustomization (macOS 10.9). Without this, GNUstep
// finds only NSPopover's unrelated -setAppearance: and rejects the argument.
@interface NSWindow (MissingInGNUstepAppearance)
@property(nullable, strong) NSAppearance* appearance;
@end

NS_ASSUME_NONNULL_END
