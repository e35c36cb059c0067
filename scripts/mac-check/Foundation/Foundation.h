// Stands in front of GNUstep's Foundation.h, for scripts/check-mac-sources.sh and
// check-mac-runtime.sh only: the newer Foundation names that sources/*.mm use and GNUstep lacks,
// declared as Apple's SDK declares them (availability macros left out). Declarations only; the
// run-time check links the test-only definitions of ../standins.mm. Only a file that imports
// Foundation (or AppKit) sees them, so a missing #import still fails the check.
#pragma once

#include_next <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

// NSURL.h (macOS 10.6). GNUstep has no resource keys at all.
typedef NSString* NSURLResourceKey;

// NSFileManager.h (macOS 10.6).
typedef NS_OPTIONS(NSUInteger, NSVolumeEnumerationOptions) {
    NSVolumeEnumerationSkipHiddenVolumes = 1UL << 1,
};

@interface NSFileManager (MissingInGNUstep)
- (nullable NSArray<NSURL*>*)
    mountedVolumeURLsIncludingResourceValuesForKeys:
        (nullable NSArray<NSURLResourceKey>*)propertyKeys
                                            options:(NSVolumeEnumerationOptions)options;
@end

// NSURL.h (macOS 10.9).
#ifndef NS_RETURNS_INNER_POINTER
#define NS_RETURNS_INNER_POINTER __attribute__((objc_returns_inner_pointer))
#endif
@interface NSURL (MissingInGNUstep)
@property(readonly) const char* fileSystemRepresentation NS_RETURNS_INNER_POINTER;
@end

// NSAppleScript.h (macOS 10.2): GNUstep declares the class, but empty.
FOUNDATION_EXPORT NSString* const NSAppleScriptErrorMessage;
FOUNDATION_EXPORT NSString* const NSAppleScriptErrorNumber;

@interface NSAppleScript (MissingInGNUstep)
- (nullable instancetype)initWithSource:(NSString*)source;
- (nullable NSAppleEventDescriptor*)executeAndReturnError:
    (NSDictionary<NSString*, id>* _Nullable* _Nullable)errorInfo;
@end

NS_ASSUME_NONNULL_END
