#pragma once

#include "platform/foundation/Range.h"

#include <QString>
#include <QStringView>

#include <optional>

// Upper case, lower case and capitals by the rules of a language (ICU's full
// case mapping: "ß" becomes "SS", Turkish "i" becomes "İ", a Greek sigma at
// the end of a word becomes "ς"). The result may be longer or shorter than
// the text it came from.
namespace lumora::text {

enum class CaseChange { upper, lower, capitalize };

// The ICU locale of the writer's language ("tr_TR"; "en" when the system
// names none).
QString writerLocale();

// text changed to the case, by the rules of locale (an ICU locale id; the
// writer's language when empty). Capitalising makes the first letter of
// each word a capital and the rest small letters.
QString changeCase(QStringView text, CaseChange change, const QString& locale = {});

// The word that contains position or ends at it (letters, digits and the
// apostrophes inside them); none between words.
std::optional<Range> wordAt(QStringView text, qsizetype position);

} // namespace lumora::text
