#pragma once

#include <QString>

namespace lumora::string {

// The string between the current locale's quotation marks.
QString quoted(const QString& text);

// How two paths relate, compared character by character (canonically
// equivalent spellings are equal).
enum class PathRelation : int {
    unrelated = 0,
    sameItem = 1,   // equal, or differing only by a trailing slash
    inside = 2,     // path lies inside other
    containing = 3, // other lies inside path
};
PathRelation pathRelation(const QString& path, const QString& other);

} // namespace lumora::string
