#include "systemplatform.h"

#import <Foundation/Foundation.h>

#include <algorithm>

namespace {

// Output kept of a tool; the parts read are a few lines long.
constexpr NSUInteger kToolOutputBound = 64 * 1024;

// Reads the pipe until the tool closes it, keeping at most the bound, so that no amount of output
// fills the memory and the tool never waits on a full pipe. False when more came than was kept,
// or the pipe could not be read.
bool readBounded(NSFileHandle* handle, QByteArray& kept)
{
    bool whole = true;
    @try {
        for (bool more = true; more;) {
            @autoreleasepool {
                NSData* piece = [handle availableData];
                const NSUInteger length = [piece length];
                const NSUInteger room = kToolOutputBound - NSUInteger(kept.size());
                kept.append(static_cast<const char*>([piece bytes]), int(std::min(length, room)));
                whole = whole && length <= room;
                more = length > 0;
            }
        }
    } @catch (NSException*) {
        whole = false;
    }
    [handle closeFile];
    return whole;
}

} // namespace

SystemPlatform& SystemPlatform::instance()
{
    static SystemPlatform platform;
    return platform;
}

QStringList SystemPlatform::mountedVolumes()
{
    QStringList mountPoints;
    @autoreleasepool {
        NSArray<NSURL*>* volumes = [[NSFileManager defaultManager]
            mountedVolumeURLsIncludingResourceValuesForKeys:nil
                                                    options:NSVolumeEnumerationSkipHiddenVolumes];
        for (NSURL* volume in volumes)
            mountPoints << QString::fromUtf8([volume fileSystemRepresentation]);
    }
    return mountPoints;
}

QString SystemPlatform::packageReceipt(const QString& packageIdentifier, const QString& mountPoint)
{
    QString receipt;
    @autoreleasepool {
        // The receipt tool is started directly with an argument list rather than through a
        // shell, so that no mount point can inject a command.
        NSTask* task = [[[NSTask alloc] init] autorelease];
        [task setLaunchPath:@"/usr/sbin/pkgutil"];
        NSString* identifier =
            [NSString stringWithUTF8String:packageIdentifier.toUtf8().constData()];
        NSString* volume =
            [NSString stringWithUTF8String:("--volume=" + mountPoint).toUtf8().constData()];
        [task setArguments:[NSArray arrayWithObjects:@"--pkg-info", identifier, volume, nil]];
        NSPipe* pipe = [NSPipe pipe];
        [task setStandardOutput:pipe];
        // A volume whose query cannot run has no receipt.
        @try {
            [task launch];
        } @catch (NSException*) {
            return receipt;
        }
        // A receipt is a few lines; more than the bound is no receipt.
        QByteArray bytes;
        if (!readBounded([pipe fileHandleForReading], bytes))
            return receipt;
        NSData* data = [NSData dataWithBytes:bytes.constData() length:NSUInteger(bytes.size())];
        NSString* text = [[[NSString alloc] initWithData:data
                                                encoding:NSUTF8StringEncoding] autorelease];
        if (text)
            receipt = QString::fromUtf8([text cStringUsingEncoding:NSUTF8StringEncoding]);
    }
    return receipt;
}

Corvantis::ScriptOutcome SystemPlatform::runAppleScript(const QString& source)
{
    Corvantis::ScriptOutcome outcome;
    @autoreleasepool {
        NSString* text = [NSString stringWithUTF8String:source.toUtf8().constData()];
        NSAppleScript* script = [[[NSAppleScript alloc] initWithSource:text] autorelease];
        NSDictionary* errors = nil;
        if ([script executeAndReturnError:&errors]) {
            outcome.succeeded = true;
            return outcome;
        }
        if (NSNumber* number = [errors valueForKey:NSAppleScriptErrorNumber])
            outcome.errorNumber = [number intValue];
        if (NSString* message = [errors valueForKey:NSAppleScriptErrorMessage])
            outcome.errorMessage =
                QString::fromUtf8([message cStringUsingEncoding:NSUTF8StringEncoding]);
    }
    return outcome;
}

Corvantis::ToolOutput SystemPlatform::packageSignature(const QString& packagePath)
{
    Corvantis::ToolOutput result;
    @autoreleasepool {
        // Started with an argument list, as the receipt query is: no path reaches a shell.
        NSTask* task = [[[NSTask alloc] init] autorelease];
        [task setLaunchPath:@"/usr/sbin/pkgutil"];
        NSString* package = [NSString stringWithUTF8String:packagePath.toUtf8().constData()];
        [task setArguments:[NSArray arrayWithObjects:@"--check-signature", package, nil]];
        NSPipe* pipe = [NSPipe pipe];
        [task setStandardOutput:pipe];
        [task setStandardError:pipe];
        @try {
            [task launch];
        } @catch (NSException*) {
            return result;
        }
        // The verdict is read from its start; a last line cut at the bound is not taken.
        readBounded([pipe fileHandleForReading], result.output);
        [task waitUntilExit];
        result.finished = [task terminationReason] == NSTaskTerminationReasonExit;
        result.exitCode = [task terminationStatus];
    }
    return result;
}
