#include "platform/application/SystemAppearance.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace lumora {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kGroup = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");

} // namespace

SystemAppearance& SystemAppearance::shared()
{
    static SystemAppearance* appearance = new SystemAppearance();
    return *appearance;
}

SystemAppearance::SystemAppearance(QObject* parent) : SystemAppearance(QDBusConnection::sessionBus(), parent) {}

SystemAppearance::SystemAppearance(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(std::make_unique<QDBusConnection>(bus))
{
    m_override = overrideFromEnvironment(qgetenv("LUMORA_APPEARANCE"));
    if (!m_override) queryPortal();
}

SystemAppearance::~SystemAppearance() = default;

std::optional<bool> SystemAppearance::overrideFromEnvironment(const QByteArray& value)
{
    const QByteArray v = value.trimmed().toLower();
    if (v == "dark") return true;
    if (v == "light") return false;
    return std::nullopt;
}

std::optional<bool> SystemAppearance::darkFromColorScheme(const QVariant& value)
{
    QVariant v = value;
    // Read wraps the value in a variant of its own; unwrap any depth.
    for (int depth = 0; depth < 4; ++depth) {
        if (v.canConvert<QDBusVariant>() && v.userType() == qMetaTypeId<QDBusVariant>())
            v = v.value<QDBusVariant>().variant();
        else if (v.userType() == qMetaTypeId<QDBusArgument>()) {
            const QDBusArgument argument = v.value<QDBusArgument>();
            if (argument.currentType() != QDBusArgument::VariantType) break;
            QDBusVariant inner;
            argument >> inner;
            v = inner.variant();
        } else
            break;
    }
    bool ok = false;
    const uint scheme = v.toUInt(&ok);
    if (!ok || v.typeId() == QMetaType::QString) return std::nullopt;
    return scheme == 1;
}

void SystemAppearance::queryPortal()
{
    if (!m_bus->isConnected()) return;
    // The slot's argument types must be known by name before connecting.
    qRegisterMetaType<QDBusVariant>();
    m_bus->connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
                   SLOT(settingChanged(QString, QString, QDBusVariant)));

    readSetting(QStringLiteral("ReadOne"));
}

void SystemAppearance::readSetting(const QString& method)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    message << kGroup << kKey;
    auto* watcher = new QDBusPendingCallWatcher(m_bus->asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, method] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *watcher;
        if (reply.isError()) {
            // ReadOne is the newer call; older portals only have Read.
            if (method == QLatin1String("ReadOne")) readSetting(QStringLiteral("Read"));
            return;
        }
        if (const auto dark = darkFromColorScheme(QVariant::fromValue(reply.value()))) setPortalDark(*dark);
    });
}

void SystemAppearance::settingChanged(const QString& group, const QString& key, const QDBusVariant& value)
{
    if (group != kGroup || key != kKey) return;
    if (const auto dark = darkFromColorScheme(QVariant::fromValue(value))) setPortalDark(*dark);
}

void SystemAppearance::setPortalDark(bool dark)
{
    const bool before = isDark();
    m_portalDark = dark;
    if (isDark() != before) emit changed(isDark());
}

void SystemAppearance::setOverride(std::optional<bool> dark)
{
    const bool before = isDark();
    m_override = dark;
    if (isDark() != before) emit changed(isDark());
}

} // namespace lumora
