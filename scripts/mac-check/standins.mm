// TEST-ONLY STAND-INS, for scripts/check-mac-runtime.sh: the Foundation behaviour that
// sources/*.mm rely on and GNUstep lacks, written from Apple's documentation with the signatures
// that Foundation/Foundation.h beside this file declares. Never part of the installer. Linux
// takes the place of the Mac where a stand-in needs a system: its mount table for the volumes.
// AppleScript itself is not played: the test names the outcome a script comes to.

#import <Foundation/Foundation.h>

#include <mntent.h>
#include <stdio.h>
#include <string.h>

extern char** environ;

// NSAppleScript.h: the keys are their own names.
NSString* const NSAppleScriptErrorMessage = @"NSAppleScriptErrorMessage";
NSString* const NSAppleScriptErrorNumber = @"NSAppleScriptErrorNumber";

// GNUstep hands a task without an environment of its own the one its process started with;
// Apple's NSTask hands it the creating process's environment as it is when the task launches,
// which is where the tests set the stand-in programs' instructions.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wobjc-protocol-method-implementation"
@implementation NSProcessInfo (CurrentEnvironment)
- (NSDictionary<NSString*, NSString*>*)environment
{
    NSMutableDictionary* variables = [NSMutableDictionary dictionary];
    for (char** entry = environ; *entry; ++entry) {
        const char* equals = strchr(*entry, '=');
        if (!equals)
            continue;
        NSString* name = [[[NSString alloc] initWithBytes:*entry
                                                   length:NSUInteger(equals - *entry)
                                                 encoding:NSUTF8StringEncoding] autorelease];
        NSString* value = [NSString stringWithUTF8String:equals + 1];
        if (name && value)
            [variables setObject:value forKey:name];
    }
    return variables;
}
@end
#pragma clang diagnostic pop

namespace {

// What a Mac marks as not browsable has its counterparts here: kernel and virtual file systems
// and whatever the system mounts in its own areas (a Mac's devfs on /dev, its volumes under
// /System/Volumes), and a volume at a hidden path.
bool isHiddenVolume(const struct mntent& mount)
{
    static const char* const kernel[] = {
        "autofs", "binfmt_misc", "bpf",        "cgroup",     "cgroup2",   "configfs", "debugfs",
        "devpts", "devtmpfs",    "efivarfs",   "fusectl",    "hugetlbfs", "mqueue",   "nsfs",
        "proc",   "pstore",      "rpc_pipefs", "securityfs", "sysfs",     "tracefs"};
    for (const char* type : kernel) {
        if (strcmp(mount.mnt_type, type) == 0)
            return true;
    }
    static const char* const areas[] = {"/dev", "/proc", "/run", "/sys"};
    for (const char* area : areas) {
        const size_t length = strlen(area);
        if (strncmp(mount.mnt_dir, area, length) == 0 &&
            (mount.mnt_dir[length] == '/' || mount.mnt_dir[length] == '\0'))
            return true;
    }
    return strstr(mount.mnt_dir, "/.") != nullptr;
}

} // namespace

@implementation NSFileManager (MissingInGNUstep)
// "Returns an array of URLs that identify the mounted volumes available on the device"; with
// NSVolumeEnumerationSkipHiddenVolumes, without the hidden ones. No resource keys are fetched.
- (nullable NSArray<NSURL*>*)
    mountedVolumeURLsIncludingResourceValuesForKeys:
        (nullable NSArray<NSURLResourceKey>*)propertyKeys
                                            options:(NSVolumeEnumerationOptions)options
{
    (void)propertyKeys;
    FILE* table = setmntent("/proc/self/mounts", "r");
    if (!table)
        return nil;
    NSMutableArray<NSURL*>* volumes = [NSMutableArray array];
    struct mntent mount;
    char line[8192];
    while (getmntent_r(table, &mount, line, sizeof line)) {
        if ((options & NSVolumeEnumerationSkipHiddenVolumes) && isHiddenVolume(mount))
            continue;
        NSString* path = [[NSFileManager defaultManager]
            stringWithFileSystemRepresentation:mount.mnt_dir
                                        length:strlen(mount.mnt_dir)];
        [volumes addObject:[NSURL fileURLWithPath:path isDirectory:YES]];
    }
    endmntent(table);
    return volumes;
}
@end

@implementation NSURL (MissingInGNUstep)
// The path of a file URL as the file system spells it, without a final "/" but for the root;
// NULL for another URL. It lives as long as the URL's autorelease pool.
- (const char*)fileSystemRepresentation
{
    return [self isFileURL] ? [[self path] fileSystemRepresentation] : nullptr;
}
@end

// Stands for the script that Apple's NSAppleScript compiles and runs. Instead of running it, it
// writes the source to the file $OSASCRIPT_RECORD, as the AppleScript runner's stand-in in tests/
// does, and comes to the outcome $APPLESCRIPT_OUTCOME describes: unset or "succeeded", a result;
// else "<number>: <message>", either part being "no number" or "no message" when the error
// dictionary lacks it.
@interface CorvantisStandInAppleScript : NSAppleScript {
    NSString* _source;
}
- (instancetype)initStandInWithSource:(NSString*)source;
@end

@implementation CorvantisStandInAppleScript
- (instancetype)initStandInWithSource:(NSString*)source
{
    if ((self = [super init]))
        _source = [source copy];
    return self;
}

- (void)dealloc
{
    [_source release];
    [super dealloc];
}

// "Returns: The result of executing the event, or nil if an error occurs"; then *errorInfo holds
// the error's number as an NSNumber and its message as an NSString.
- (nullable NSAppleEventDescriptor*)executeAndReturnError:
    (NSDictionary<NSString*, id>* _Nullable* _Nullable)errorInfo
{
    if (const char* record = getenv("OSASCRIPT_RECORD"))
        [_source writeToFile:[NSString stringWithUTF8String:record]
                  atomically:NO
                    encoding:NSUTF8StringEncoding
                       error:nullptr];
    const char* outcome = getenv("APPLESCRIPT_OUTCOME");
    if (!outcome || strcmp(outcome, "succeeded") == 0)
        return [[[NSAppleEventDescriptor alloc] init] autorelease];
    NSString* text = [NSString stringWithUTF8String:outcome];
    const NSRange colon = [text rangeOfString:@": "];
    NSString* number = colon.location == NSNotFound ? text : [text substringToIndex:colon.location];
    NSString* message =
        colon.location == NSNotFound ? @"no message" : [text substringFromIndex:NSMaxRange(colon)];
    NSMutableDictionary<NSString*, id>* error = [NSMutableDictionary dictionary];
    if (![number isEqualToString:@"no number"])
        [error setObject:[NSNumber numberWithInt:[number intValue]]
                  forKey:NSAppleScriptErrorNumber];
    if (![message isEqualToString:@"no message"])
        [error setObject:message forKey:NSAppleScriptErrorMessage];
    if (errorInfo)
        *errorInfo = error;
    return nil;
}
@end

@implementation NSAppleScript (MissingInGNUstep)
// "Returns: The initialized script object, or nil if an error occurs."
- (nullable instancetype)initWithSource:(NSString*)source
{
    [self release];
    return source ? [[CorvantisStandInAppleScript alloc] initStandInWithSource:source] : nil;
}

- (nullable NSAppleEventDescriptor*)executeAndReturnError:
    (NSDictionary<NSString*, id>* _Nullable* _Nullable)errorInfo
{
    (void)errorInfo;
    return nil;
}
@end
