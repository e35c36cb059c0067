#include "systemplatform.h"

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>

#include <algorithm>

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
        [task launch];
        NSFileHandle* output = [pipe fileHandleForReading];
        NSData* data = [output readDataToEndOfFile];
        [output closeFile];
        NSString* text = [[[NSString alloc] initWithData:data
                                                encoding:NSUTF8StringEncoding] autorelease];
        if (text)
            receipt = QString::fromUtf8([text cStringUsingEncoding:NSUTF8StringEncoding]);
    }
    return receipt;
}

ScriptOutcome SystemPlatform::runAppleScript(const QString& source)
{
    ScriptOutcome outcome;
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

ToolOutput SystemPlatform::packageSignature(const QString& packagePath)
{
    ToolOutput result;
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
        NSFileHandle* output = [pipe fileHandleForReading];
        NSData* data = [output readDataToEndOfFile];
        [output closeFile];
        [task waitUntilExit];
        const NSUInteger kept = std::min<NSUInteger>([data length], 64 * 1024);
        result.output = QByteArray(static_cast<const char*>([data bytes]), int(kept));
        result.finished = [task terminationReason] == NSTaskTerminationReasonExit;
        result.exitCode = [task terminationStatus];
    }
    return result;
}
