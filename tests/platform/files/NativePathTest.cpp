// File names as bytes: every name the disk can hold comes back as the same
// bytes, is found on disk by them, and reads as something sensible.
#include "platform/files/NativePath.h"

#include "support/TestEnvironment.h"

#include <QFile>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::test;

TEST(NativePath, EveryByteStringComesBackExactly)
{
    const QList<QByteArray> names{
        "plain.md",         "Caf\xc3\xa9.md",        "bad\xff.md",        "\xfe\xff",
        "half\xc3",         "overlong\xc0\xaf.md",   "surrogate\xed\xa0\x80", "beyond\xf4\x90\x80\x80",
        "emoji\xf0\x9f\x93\x9d.md", "\xe2\x82",      "mixed\xe9t\xc3\xa9.md", "\x80\x80\x80",
    };
    for (const QByteArray& name : names) {
        const QString decoded = NativePath::decode(name);
        EXPECT_EQ(NativePath::encode(decoded), name) << name.toHex().toStdString();
        // Valid UTF-8 decodes as Qt does, and carries no kept bytes.
        if (QString::fromUtf8(name).toUtf8() == name) {
            EXPECT_EQ(decoded, QString::fromUtf8(name));
            EXPECT_FALSE(NativePath::hasRawBytes(decoded));
        } else {
            EXPECT_TRUE(NativePath::hasRawBytes(decoded)) << name.toHex().toStdString();
        }
    }
    // Random bytes, many times.
    QRandomGenerator random(42);
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes(int(random.bounded(1, 24)), '\0');
        for (char& b : bytes) b = char(random.bounded(1, 256));
        EXPECT_EQ(NativePath::encode(NativePath::decode(bytes)), bytes) << bytes.toHex().toStdString();
    }
}

TEST(NativePath, KeptBytesReadAsReplacementCharacters)
{
    const QString name = NativePath::decode("bad\xff\xfe.md");
    EXPECT_EQ(NativePath::shown(name), QString::fromUtf8("bad\xef\xbf\xbd\xef\xbf\xbd.md"));
    // Characters beyond the basic plane stay whole.
    const QString emoji = NativePath::decode("\xf0\x9f\x93\x9d\xff");
    EXPECT_EQ(NativePath::shown(emoji), QString::fromUtf8("\xf0\x9f\x93\x9d\xef\xbf\xbd"));
    EXPECT_EQ(NativePath::shown("Café.md"), "Café.md");
}

TEST(NativePath, ANameIsShownOnOneLineWithMarksEveryFontHas)
{
    // ":" on disk reads as "/", and a "/" typed goes to disk as ":".
    EXPECT_EQ(NativePath::shownName("My:Notes.txt"), "My/Notes.txt");
    EXPECT_EQ(NativePath::diskName("My/Notes.txt"), "My:Notes.txt");
    // Line breaks show as a pilcrow, other control characters as U+FFFD,
    // each byte that is not UTF-8 as U+FFFD too.
    EXPECT_EQ(NativePath::shownName(QString::fromUtf8("Two\nlines\r\u2028.md")), QString::fromUtf8("Two¶lines¶¶.md"));
    EXPECT_EQ(NativePath::shownName(QString::fromUtf8("tab\tbell\a" "del\x7f" "\u0085")),
              QString::fromUtf8("tab\uFFFDbell\uFFFDdel\uFFFD¶"));
    EXPECT_EQ(NativePath::shownName(NativePath::decode("bad\xff")), QString::fromUtf8("bad\uFFFD"));
    // Of a path, the last component; the root shows as itself.
    EXPECT_EQ(NativePath::shownNameOf("/home/a:b/My:Notes.txt"), "My/Notes.txt");
    EXPECT_EQ(NativePath::shownNameOf("/"), "/");
    EXPECT_EQ(NativePath::shownNameOf("Café.md"), "Café.md");
    for (const QString& shown : {NativePath::shownName(QString::fromUtf8("a\nb")), NativePath::shownName("a\x01b")})
        for (const QChar c : shown) EXPECT_TRUE(c.isPrint()) << shown.toStdString();
}

TEST(NativePath, TheDiskIsAskedByTheRealBytes)
{
    const QString folder = freshDirectory("native");
    const QByteArray raw = QFile::encodeName(folder) + "/notes\xe9.md";
    const int fd = ::open(raw.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_EQ(::mkdir((QFile::encodeName(folder) + "/Dossier\xe9").constData(), 0755), 0);
    const QString file = NativePath::decode(raw);
    const QString sub = NativePath::decode(QFile::encodeName(folder) + "/Dossier\xe9");

    // Qt's own conversion names another file.
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_TRUE(NativePath::exists(file));
    EXPECT_TRUE(NativePath::isRegularFile(file));
    EXPECT_FALSE(NativePath::isFolder(file));
    EXPECT_TRUE(NativePath::isFolder(sub));
    EXPECT_TRUE(NativePath::isWritable(file));
    EXPECT_FALSE(NativePath::exists(folder + "/notes\uFFFD.md"));

    // File URLs carry the bytes both ways, as other programs write them.
    const QUrl url = NativePath::fileUrl(file);
    EXPECT_TRUE(url.toString(QUrl::FullyEncoded).endsWith("/notes%E9.md")) << url.toString().toStdString();
    EXPECT_EQ(NativePath::fromFileUrl(url), file);
    EXPECT_EQ(NativePath::fromFileUrl(QUrl::fromLocalFile(folder + "/Café.md")), folder + "/Café.md");
    EXPECT_EQ(NativePath::fromFileUrl(QUrl("https://example.com/a.md")), QString());
}
