#include "platform/files/NameCollation.h"

#include <QCollator>
#include <QLocale>

namespace lumora {

namespace {

QCollator& collator()
{
    thread_local QCollator instance = [] {
        // The C locale collates by code point, without numbers or case;
        // English is the neutral order then.
        const QLocale system;
        QCollator c{system.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : system};
        c.setNumericMode(true);
        c.setCaseSensitivity(Qt::CaseInsensitive);
        c.setIgnorePunctuation(false);
        return c;
    }();
    return instance;
}

} // namespace

QCollatorSortKey NameCollation::sortKey(const QString& name)
{
    return collator().sortKey(name);
}

int NameCollation::compare(const QString& a, const QString& b)
{
    const int order = collator().compare(a, b);
    return order != 0 ? order : QString::compare(a, b, Qt::CaseSensitive);
}

} // namespace lumora
