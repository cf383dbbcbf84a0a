#include "markdown/MarkdownStyling.h"

#include "markdown/Markdown.h"

namespace lumora {

bool editTouchesMarkdownSyntax(QStringView text, Range range, QStringView replacement)
{
    const CharacterSet& syntaxOrSpace = Markdown::syntaxAndWhitespaceCharacters();
    auto holdsOne = [&](QStringView s) {
        for (QChar c : s)
            if (syntaxOrSpace.contains(c)) return true;
        return false;
    };
    const qsizetype from = std::clamp<qsizetype>(range.location, 0, text.size());
    const qsizetype to = std::clamp<qsizetype>(range.end(), from, text.size());
    if (holdsOne(replacement)) return true;
    if (holdsOne(text.sliced(from, to - from))) return true;
    if (from > 0 && syntaxOrSpace.contains(text[from - 1])) return true;
    if (to < text.size() && Markdown::syntaxCharacters().contains(text[to])) return true;
    return false;
}

} // namespace lumora
