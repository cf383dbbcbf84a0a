#include "support/TestEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

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

namespace {

constexpr const char* kRoleVariable = "LUMORA_TEST_CHILD_ROLE";

std::map<std::string, ChildRoleFunction>& roles()
{
    static std::map<std::string, ChildRoleFunction> registered;
    return registered;
}

} // namespace

ChildRole::ChildRole(const char* name, ChildRoleFunction function) { roles()[name] = std::move(function); }

bool startChild(QProcess& process, const QString& role, const QStringList& arguments,
                const QProcessEnvironment& environment)
{
    QProcessEnvironment env = environment;
    env.insert(QString::fromLatin1(kRoleVariable), role);
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), arguments);
    return process.waitForStarted(patience);
}

bool startChild(QProcess& process, const QString& role, const QStringList& arguments)
{
    return startChild(process, role, arguments, QProcessEnvironment::systemEnvironment());
}

QProcessEnvironment childEnvironmentWithOwnRuntime()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString runtime = freshDirectory(QStringLiteral("runtime"));
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    return env;
}

QByteArray readLineFrom(QProcess& process, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!process.canReadLine()) {
        if (process.state() == QProcess::NotRunning || timer.elapsed() > timeoutMs) return {};
        process.waitForReadyRead(100);
    }
    return process.readLine().trimmed();
}

CommandedChild::CommandedChild(const QString& role, const QStringList& arguments)
{
    EXPECT_TRUE(startChild(process, role, arguments, childEnvironmentWithOwnRuntime()));
    EXPECT_EQ(readLineFrom(process), QByteArray("ready"));
}

CommandedChild::~CommandedChild()
{
    process.closeWriteChannel();
    if (!process.waitForFinished(patience)) process.kill();
}

QByteArray CommandedChild::tell(const QByteArray& command)
{
    process.write(command + "\n");
    process.waitForBytesWritten();
    return readLineFrom(process);
}

int runChildRoleIfAsked(int argc, char** argv)
{
    const char* role = std::getenv(kRoleVariable);
    if (!role) return -1;
    const auto found = roles().find(role);
    if (found == roles().end()) {
        std::fprintf(stderr, "no child role %s\n", role);
        return 3;
    }
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const int result = found->second(arguments);
    std::fflush(stdout);
    return result;
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
