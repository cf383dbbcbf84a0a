// Test entry: a private HOME and XDG folders, the offscreen platform, one
// QApplication for the whole run.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include <ftw.h>
#include <stdio.h>
#include <unistd.h>

namespace lumora::test {
void setSandboxRoot(const QString& root);
int runChildRoleIfAsked(int argc, char** argv);
}

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*)
{
    ::remove(path);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // A child a test started (a second instance, a process to kill) keeps
    // the folders its parent gave it, and makes its test folders in the
    // parent's sandbox, which the parent removes.
    const bool child = std::getenv("LUMORA_TEST_CHILD_ROLE") != nullptr;
    std::optional<QTemporaryDir> sandbox;
    QString sandboxPath;
    if (child) {
        sandboxPath = QString::fromLocal8Bit(std::getenv("LUMORA_TEST_SANDBOX"));
    } else {
        sandbox.emplace(QDir::tempPath() + QStringLiteral("/lumora-test-XXXXXX"));
        if (!sandbox->isValid()) return 2;
        sandboxPath = sandbox->path();
        const QByteArray root = sandboxPath.toLocal8Bit();
        for (const char* sub : {"home", "config", "data", "cache", "state", "runtime"})
            QDir().mkpath(sandboxPath + QLatin1Char('/') + QLatin1String(sub));
        QFile::setPermissions(sandboxPath + QStringLiteral("/runtime"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        setenv("HOME", (root + "/home").constData(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/config").constData(), 1);
        setenv("XDG_DATA_HOME", (root + "/data").constData(), 1);
        setenv("XDG_CACHE_HOME", (root + "/cache").constData(), 1);
        setenv("XDG_STATE_HOME", (root + "/state").constData(), 1);
        setenv("XDG_RUNTIME_DIR", (root + "/runtime").constData(), 1);
        setenv("LUMORA_TEST_SANDBOX", root.constData(), 1);
    }
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Qt WebEngine refuses to start its sandbox as root (CI containers).
    if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    lumora::test::setSandboxRoot(sandboxPath);

    if (!child) ::testing::InitGoogleTest(&argc, argv);
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumora"));
    QApplication::setOrganizationName(QStringLiteral("Lumora"));
    if (child) {
        const int result = lumora::test::runChildRoleIfAsked(argc, argv);
        QThreadPool::globalInstance()->waitForDone();
        return result;
    }
    const int result = RUN_ALL_TESTS();
    // Background work finishes and its threads end before the process does,
    // so nothing is still starting or stopping while the process exits (the
    // leak checker stops every thread at exit and stumbles on one mid-way).
    QThreadPool::globalInstance()->waitForDone();
    // The sandbox goes by its entries' real bytes: QTemporaryDir cannot
    // remove a name that is not UTF-8, and tests make such names.
    ::nftw(sandboxPath.toLocal8Bit().constData(), removeEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
    return result;
}
