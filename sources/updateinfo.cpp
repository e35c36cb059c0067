#include "updateinfo.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

#include "versionnumber.h"

namespace Corvantis {
namespace {

constexpr char kUnexpectedResponse[] = "Could't update, unexpected response\n";
constexpr char kNoUpdateInformation[] = "No update information is available";
// Error pages of web servers fit whole; anything longer is of no use to a reader of the log.
constexpr int kLoggedAnswerSize = 64 * 1024;

// Control characters would let an answer forge records or drive the terminal of whoever reads
// the log; they are written as the log writes them in quoted texts. Line feeds and tabs stay.
QByteArray withControlsEscaped(const QByteArray& text)
{
    QByteArray escaped;
    for (int i = 0; i < text.size(); ++i) {
        uint c = uchar(text.at(i));
        // C1 controls come as a two-byte UTF-8 sequence.
        const bool c1 = c == 0xC2 && i + 1 < text.size() && uchar(text.at(i + 1)) >= 0x80 &&
                        uchar(text.at(i + 1)) <= 0x9F;
        if (c1)
            c = uchar(text.at(++i));
        if (c1 || c == 0x7F || (c < 0x20 && c != '\n' && c != '\t'))
            escaped += "\\u" + QByteArray::number(c, 16).toUpper().rightJustified(4, '0');
        else
            escaped += char(c);
    }
    return escaped;
}

UpdateInfo failure(const char* logText)
{
    UpdateInfo info;
    info.failureLogText = logText;
    return info;
}

} // namespace

UpdateInfo readUpdateInfo(const QByteArray& body)
{
    if (body.size() > kMaxUpdateAnswerSize)
        return failure(kUnexpectedResponse);
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isArray() || document.array().isEmpty())
        return failure(kUnexpectedResponse);

    // Keyed by integer version: among offers that map to one integer the last one wins.
    QMap<int, UpdateEntry> installers;
    QMap<int, UpdateEntry> products;
    const QJsonArray offers = document.array();
    for (const QJsonValue& offer : offers) {
        const QJsonObject element = offer.toObject();
        if (element.isEmpty())
            return failure(kUnexpectedResponse);

        const UpdateEntry installer{element.value("mac_installer_version").toString(),
                                    element.value("mac_installer_file").toString()};
        const UpdateEntry product{element.value("mac_app_version").toString(),
                                  element.value("mac_app_file").toString()};
        // "force_update_mac" is part of the answer, but nothing acts on it.
        if (!installer.version.isEmpty() && !installer.file.isEmpty())
            installers.insert(version_string2int(installer.version), installer);
        if (!product.version.isEmpty() && !product.file.isEmpty())
            products.insert(version_string2int(product.version), product);
    }
    if (installers.isEmpty() || products.isEmpty())
        return failure(kNoUpdateInformation);

    UpdateInfo info;
    info.valid = true;
    info.latestInstaller = installers.last();
    return info;
}

QByteArray answerForLog(const QByteArray& body)
{
    const QByteArray text(body.constData()); // up to the first zero byte, as it was logged
    if (text.size() <= kLoggedAnswerSize)
        return withControlsEscaped(text);
    QByteArray start = text.left(kLoggedAnswerSize);
    // Not in the middle of a UTF-8 sequence: a last sequence that is not whole goes.
    int lead = start.size() - 1;
    while (lead > 0 && (uchar(start.at(lead)) & 0xC0) == 0x80)
        --lead;
    const uchar first = uchar(start.at(lead));
    const int length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
    if (lead + length > start.size())
        start.truncate(lead);
    const QByteArray size = body.size() > kMaxUpdateAnswerSize
                                ? "more than " + QByteArray::number(kMaxUpdateAnswerSize)
                                : QByteArray::number(body.size());
    return withControlsEscaped(start) + "\n[... the answer has " + size + " bytes; the first " +
           QByteArray::number(start.size()) + " are logged]";
}

} // namespace Corvantis
