#pragma once

#include "platform/foundation/Range.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <utility>
#include <vector>

// What the writer's typing turns into when the substitutions are on: curly
// quotes, em dashes and their own text replacements; and the spaces that
// smart copy and paste keeps sensible around pasted and deleted words.
//
// Each rule looks at the text as it stands right after a character was
// typed (at index typedAt) and says what to replace, if anything. Whether the
// place is prose at all (not code, not a link's address) is the caller's to
// decide.
namespace lumora::text {

struct Substitution {
    Range range;
    QString replacement;
    friend bool operator==(const Substitution&, const Substitution&) = default;
};

// One entry of the writer's text replacements: typing `replace` followed by
// a space or a punctuation mark gives `with`.
struct TextReplacementEntry {
    QString replace;
    QString with;
    friend bool operator==(const TextReplacementEntry&, const TextReplacementEntry&) = default;
};

// A straight quote typed at typedAt as the curly quote it stands for: an
// opening one at the start of a line, after white space, an opening bracket,
// a dash or another opening quote; a closing one (or apostrophe) elsewhere.
std::optional<Substitution> smartQuote(QStringView text, qsizetype typedAt);

// Two hyphens followed by the character typed at typedAt become an em dash:
// "a -- b" gives "a — b". Hyphens at the start of a line (rules, underlines,
// front matter), three or more in a row, and HTML comment markers stay.
std::optional<Substitution> smartDash(QStringView text, qsizetype typedAt);

// Whether c ends a text replacement's shortcut when typed after it.
bool endsReplacementShortcut(QChar c);

// The replacement whose shortcut stands right before the character typed at
// typedAt, starting at the beginning of a line, after white space or after
// an opening bracket or quote. The longest shortcut wins.
std::optional<Substitution> textReplacement(QStringView text, qsizetype typedAt,
                                            const std::vector<TextReplacementEntry>& entries);

// Smart paste: the spaces to add before and after text pasted over range so
// that it neither runs into the words beside it nor doubles a space.
std::pair<QString, QString> smartInsertPadding(QStringView text, Range range, QStringView pasted);

// Smart delete: range, widened by the one space that would otherwise be left
// doubled (between two words) or stranded (before punctuation or a line's
// end) once the words in range are gone. Only a range holding whole words is
// widened.
Range smartDeleteRange(QStringView text, Range range);

} // namespace lumora::text
