#include "platform/SingleInstance.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace lumora;

namespace {

const char* const kSocketVariable = "LUMORA_TEST_SINGLE_INSTANCE_SOCKET";

// A socket file that nobody listens on, as a crashed instance leaves it.
void leaveStaleSocket(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = path.toLocal8Bit();
    ASSERT_LT(size_t(bytes.size()), sizeof(address.sun_path));
    std::memcpy(address.sun_path, bytes.constData(), size_t(bytes.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
    ASSERT_TRUE(QFileInfo::exists(path));
}

} // namespace

TEST(SingleInstance, FileArgumentsAreTheLaunchArgumentsThatAreNoOptions)
{
    EXPECT_EQ(SingleInstance::fileArguments({"lumora", "-log", "2", "notes.md", "../a b.txt", "--", "-dash.md"}, "/home/u/docs"),
              (QStringList{"/home/u/docs/notes.md", "/home/u/a b.txt", "/home/u/docs/-dash.md"}));
    EXPECT_TRUE(SingleInstance::fileArguments({"lumora"}, "/").isEmpty());
}

// The second launch, run as a process of its own by the test below.
TEST(SingleInstance, SecondLaunchHelper)
{
    const QByteArray path = qgetenv(kSocketVariable);
    if (path.isEmpty()) GTEST_SKIP() << "run by SingleInstance.ASecondLaunchHandsItsArgumentsOver";
    SingleInstance second(QString::fromLocal8Bit(path));
    EXPECT_EQ(second.start({"lumora", "notes.md"}, "/somewhere"), SingleInstance::Role::secondary);
    EXPECT_FALSE(second.isListening());
}

TEST(SingleInstance, ASecondLaunchHandsItsArgumentsOver)
{
    const QString path = test::freshDirectory("single-instance") + "/lumora.socket";
    SingleInstance first(path);
    ASSERT_EQ(first.start({"lumora"}, "/"), SingleInstance::Role::primary);
    QSignalSpy received(&first, &SingleInstance::argumentsReceived);

    QProcess second;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(kSocketVariable, path);
    second.setProcessEnvironment(environment);
    second.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=SingleInstance.SecondLaunchHelper"});
    ASSERT_TRUE(received.wait(20000)) << second.readAllStandardOutput().toStdString();
    EXPECT_EQ(received[0][0].toStringList(), (QStringList{"lumora", "notes.md"}));
    EXPECT_EQ(received[0][1].toString(), QStringLiteral("/somewhere"));
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardOutput().toStdString();
}

TEST(SingleInstance, ALeftoverSocketAndLockAreTakenOver)
{
    const QString folder = test::freshDirectory("single-instance-stale");
    const QString path = folder + "/lumora.socket";
    leaveStaleSocket(path);
    // A lock of a process that is gone.
    test::writeFile(path + ".lock", "2147483646\nlumora\n" + QSysInfo::machineHostName().toUtf8() + "\n");

    SingleInstance instance(path);
    EXPECT_EQ(instance.start({"lumora"}, "/", 1000), SingleInstance::Role::primary);
    EXPECT_TRUE(instance.isListening());
}
