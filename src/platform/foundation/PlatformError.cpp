#include "platform/foundation/PlatformError.h"

#include "platform/foundation/Localization.h"

namespace lumora {

QString platformText(const char* key, const char* english)
{
    const QString k = QString::fromUtf8(key);
    const QString text = localized(k);
    return text == k ? QString::fromUtf8(english) : text;
}

} // namespace lumora
