#include "platform/application/SingleInstance.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QFileInfo>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace lumora;

namespace {

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

// A second launch handing its arguments over is the launch test's
// (tests/shell/LaunchTest.cpp), with the program itself.

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
