#include "updateinfo.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

#include "versionnumber.h"

namespace {

constexpr char kUnexpectedResponse[] = "Could't update, unexpected response\n";
constexpr char kNoUpdateInformation[] = "No update information is available";

UpdateInfo failure(const char* logText)
{
    UpdateInfo info;
    info.failureLogText = logText;
    return info;
}

} // namespace

UpdateInfo readUpdateInfo(const QByteArray& body)
{
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
