#include "platform/application/SystemAppearance.h"
#include "support/Patience.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace lumora;

namespace {

// The desktop's settings portal, as far as the colour scheme goes.
class FakePortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    uint scheme = 1;
    bool hasReadOne = true;

public slots:
    QDBusVariant ReadOne(const QString&, const QString&)
    {
        if (!hasReadOne) sendErrorReply(QDBusError::UnknownMethod, QStringLiteral("No ReadOne here"));
        return QDBusVariant(scheme);
    }
    // The older call wraps the value in a second variant.
    QDBusVariant Read(const QString&, const QString&)
    {
        return QDBusVariant(QVariant::fromValue(QDBusVariant(scheme)));
    }
};

// A private session bus for one test, its socket in a folder of its own
// that goes with the bus (the daemon, killed, leaves its socket behind).
class PrivateBus {
public:
    PrivateBus()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty() || !m_folder.isValid()) return;
        m_process.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                 QStringLiteral("--address=unix:dir=") + m_folder.path(),
                                 QStringLiteral("--print-address")});
        if (!m_process.waitForReadyRead(test::patience)) return;
        address = QString::fromUtf8(m_process.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        m_process.kill();
        m_process.waitForFinished(test::patience);
    }
    QString address;

private:
    QTemporaryDir m_folder;
    QProcess m_process;
};

} // namespace

TEST(SystemAppearance, TheOverrideWinsAndAnnouncesChanges)
{
    EXPECT_EQ(SystemAppearance::overrideFromEnvironment("dark"), true);
    EXPECT_EQ(SystemAppearance::overrideFromEnvironment(" Light\n"), false);
    EXPECT_EQ(SystemAppearance::overrideFromEnvironment("auto"), std::nullopt);
    EXPECT_EQ(SystemAppearance::darkFromColorScheme(1u), true);
    EXPECT_EQ(SystemAppearance::darkFromColorScheme(2u), false);
    EXPECT_EQ(SystemAppearance::darkFromColorScheme(QVariant::fromValue(QDBusVariant(0u))), false);
    EXPECT_EQ(SystemAppearance::darkFromColorScheme(QStringLiteral("dark")), std::nullopt);

    // No bus: light.
    SystemAppearance appearance(QDBusConnection(QStringLiteral("none")));
    EXPECT_FALSE(appearance.isDark());
    QSignalSpy changed(&appearance, &SystemAppearance::changed);
    appearance.setOverride(true);
    appearance.setOverride(true);
    appearance.setOverride(std::nullopt);
    ASSERT_EQ(changed.size(), 2);
    EXPECT_EQ(changed[0][0].toBool(), true);
    EXPECT_EQ(changed[1][0].toBool(), false);
}

TEST(SystemAppearance, FollowsTheDesktopPortal)
{
    PrivateBus bus;
    if (bus.address.isEmpty()) GTEST_SKIP() << "no dbus-daemon";
    QDBusConnection portalSide = QDBusConnection::connectToBus(bus.address, QStringLiteral("portal"));
    QDBusConnection appSide = QDBusConnection::connectToBus(bus.address, QStringLiteral("app"));
    ASSERT_TRUE(portalSide.isConnected() && appSide.isConnected());
    FakePortal portal;
    ASSERT_TRUE(portalSide.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    ASSERT_TRUE(portalSide.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                                          QDBusConnection::ExportAllSlots));

    {
        SystemAppearance appearance(appSide);
        ASSERT_TRUE(QTest::qWaitFor([&] { return appearance.isDark(); }, test::patience));

        QSignalSpy changed(&appearance, &SystemAppearance::changed);
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/portal/desktop"),
                                                         QStringLiteral("org.freedesktop.portal.Settings"),
                                                         QStringLiteral("SettingChanged"));
        signal << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme")
               << QVariant::fromValue(QDBusVariant(0u));
        portalSide.send(signal);
        ASSERT_TRUE(changed.wait(test::patience));
        EXPECT_FALSE(appearance.isDark());
    }

    // An older portal answers through Read only.
    portal.hasReadOne = false;
    SystemAppearance older(appSide);
    ASSERT_TRUE(QTest::qWaitFor([&] { return older.isDark(); }, test::patience));

    QDBusConnection::disconnectFromBus(QStringLiteral("portal"));
    QDBusConnection::disconnectFromBus(QStringLiteral("app"));
}

#include "SystemAppearanceTest.moc"
