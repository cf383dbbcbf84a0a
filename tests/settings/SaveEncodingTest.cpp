#include "settings/SaveEncoding.h"

#include "platform/files/UserDefaults.h"

#include <QVariant>

#include <gtest/gtest.h>

#include <utility>

using namespace lumora;

TEST(SaveEncoding, ReadsThePreferenceEachTime)
{
    UserDefaults& defaults = UserDefaults::standard();
    const std::pair<QVariant, StringEncoding> table[] = {
        {QVariant(), Encoding::utf8},
        {-1, Encoding::utf8},
        {12, Encoding::windowsCP1252},
        {30.0, Encoding::macOSRoman},
        {QVariant(qlonglong(Encoding::utf16BigEndian)), Encoding::utf16BigEndian},
        {4.5, Encoding::utf8},
        {QStringLiteral("5"), Encoding::utf8},
        {true, Encoding::utf8},
        {1e30, Encoding::utf8},
    };
    for (const auto& [stored, expected] : table) {
        defaults.set("saveEncoding", stored);
        EXPECT_EQ(preferredSaveEncoding(), expected) << stored.toString().toStdString();
    }
    defaults.remove("saveEncoding");
}
