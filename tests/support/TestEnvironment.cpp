#include "support/TestEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <gtest/gtest.h>

namespace lumora::test {

namespace {
QString g_root;
}

void setSandboxRoot(const QString& root) { g_root = root; }

QString sandboxRoot() { return g_root; }

QString freshDirectory(const QString& name)
{
    const QString path = QDir(g_root).filePath(QStringLiteral("t/") + name + QLatin1Char('-')
                                               + QUuid::createUuid().toString(QUuid::Id128).left(8));
    QDir().mkpath(path);
    return path;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QString installTestDictionary()
{
    static QString folder;
    if (folder.isEmpty()) {
        folder = freshDirectory(QStringLiteral("enchant"));
        const QDir source(QStringLiteral(LUMORA_TEST_DICTIONARIES));
        for (const char* name : {"en_ZZ.aff", "en_ZZ.dic"})
            writeFile(folder + QStringLiteral("/hunspell/") + QLatin1String(name),
                      readFile(source.filePath(QLatin1String(name))));
        qputenv("ENCHANT_CONFIG_DIR", QFile::encodeName(folder));
    }
    return QStringLiteral("en_ZZ");
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

void whenModal(std::function<void(QWidget*)> answer, QWidget* above)
{
    QTimer::singleShot(0, [answer = std::move(answer), guard = QPointer<QWidget>(above), above]() mutable {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || dialog == above) {
            if (above && !guard) return; // the dialog below went away: nothing will open
            whenModal(std::move(answer), above);
            return;
        }
        answer(dialog);
    });
}

} // namespace lumora::test
