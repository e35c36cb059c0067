#include "boxtext.h"

namespace Corvantis {

// A megabyte of such text took seconds to lay out and ran off the screen.
QString shortened(const QString& text)
{
    constexpr int kMaxCharacters = 300;
    constexpr int kMaxLines = 8;
    int end = qMin(text.size(), kMaxCharacters);
    for (int line = 0, at = -1; line < kMaxLines; ++line) {
        at = text.indexOf('\n', at + 1);
        if (at < 0 || at >= end)
            break;
        if (line == kMaxLines - 1)
            end = at;
    }
    if (end == text.size())
        return text;
    if (end > 0 && text.at(end - 1).isHighSurrogate())
        --end;
    return text.left(end) + QChar(0x2026);
}

} // namespace Corvantis
