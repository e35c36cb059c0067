#include "receipt.h"
#include "versionnumber.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// The weights by number of parts, worked out independently of the code under test: 1000 to the
// power parts - 1, cut to its low 32 bits, and 0 once the power leaves the 64-bit range.
constexpr quint32 kStartingWeights[] = {1,          1000,       1000000,   1000000000,
                                        3567587328, 2764472320, 2808348672};

int expectedVersion(const QString& text)
{
    const QStringList parts = text.split('.', Qt::KeepEmptyParts, Qt::CaseSensitive);
    quint32 weight = parts.size() <= 7 ? kStartingWeights[parts.size() - 1] : 0;
    quint32 sum = 0;
    for (const QString& part : parts) {
        bool ok = false;
        const quint32 value = part.toUInt(&ok, 10);
        if (ok)
            sum += value * weight;
        weight /= 1000;
    }
    return int(sum);
}

void checkValue(const QString& text, const QString& key)
{
    const QString value = getValue(text, key);
    // A trimmed piece of one line of the text, and nothing when the key is absent.
    if (value != value.trimmed() || value.contains('\n'))
        abort();
    if (!value.isEmpty() && (!text.contains(key) || !text.contains(value)))
        abort();
    // What a receipt's version line turns into.
    version_string2int(value);
}

} // namespace

// A version text, or a receipt text with the key to look up: "key\0text" when the input holds a
// zero byte, otherwise the whole input is the text and the receipt's own keys are used.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    const QString whole = QString::fromUtf8(bytes);

    if (version_string2int(whole) != expectedVersion(whole))
        abort();

    const int zero = bytes.indexOf('\0');
    if (zero >= 0) {
        checkValue(QString::fromUtf8(bytes.mid(zero + 1)), QString::fromUtf8(bytes.left(zero)));
    } else {
        checkValue(whole, QStringLiteral("version"));
        checkValue(whole, QStringLiteral("volume"));
    }
    return 0;
}
