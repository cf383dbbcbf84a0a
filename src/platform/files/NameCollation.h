#pragma once

#include <QCollatorSortKey>
#include <QString>

namespace lumora {

// The order of file names a person expects: the user's language, case
// ignored, and numbers by value ("Note 2" before "Note 10"), through ICU's
// collation (QCollator in numeric mode). A sort key is made once per name
// and compared cheaply; nodes of a file tree keep theirs.
//
// Keys and comparisons come from a collator of the calling thread. Keys
// made on different threads compare correctly: every thread uses the same
// settings.
class NameCollation {
public:
    static QCollatorSortKey sortKey(const QString& name);

    // Negative, 0 or positive. Names the collation holds equal ("a.txt" and
    // "A.txt") are ordered by their characters, so that no two different
    // names compare equal.
    static int compare(const QString& a, const QString& b);
    static int compare(const QCollatorSortKey& keyA, const QString& a, const QCollatorSortKey& keyB, const QString& b)
    {
        const int order = keyA.compare(keyB);
        return order != 0 ? order : QString::compare(a, b, Qt::CaseSensitive);
    }
};

} // namespace lumora
