#include "settings/SaveEncoding.h"

#include "platform/files/UserDefaults.h"

namespace lumora {

StringEncoding preferredSaveEncoding()
{
    const auto value = UserDefaults::standard().integerValue(QStringLiteral("saveEncoding"));
    if (!value || *value < 0) return Encoding::utf8;
    return StringEncoding(*value);
}

} // namespace lumora
