#pragma once

#include <QObject>
#include <QVariant>

#include <optional>

#include <memory>

class QDBusConnection;
class QDBusVariant;

namespace lumora {

// Whether the desktop asks for dark applications, from the freedesktop
// settings portal (org.freedesktop.appearance color-scheme: 1 prefers dark,
// 0 and 2 light), followed while the program runs. Light when there is no
// session bus or no portal, and until the portal's first answer arrives
// (the question never blocks).
//
// LUMORA_APPEARANCE=dark or =light in the environment, or setOverride(),
// fixes the answer (tests, screenshots).
class SystemAppearance : public QObject {
    Q_OBJECT

public:
    static SystemAppearance& shared();

    // Asks the portal on the session bus unless the environment overrides it.
    explicit SystemAppearance(QObject* parent = nullptr);
    // The same over another bus.
    explicit SystemAppearance(const QDBusConnection& bus, QObject* parent = nullptr);
    ~SystemAppearance() override;

    bool isDark() const { return m_override.value_or(m_portalDark); }

    // A fixed answer, or none to follow the desktop again.
    void setOverride(std::optional<bool> dark);
    std::optional<bool> override() const { return m_override; }

    // The dark flag in a portal value (a number, possibly wrapped in one or
    // more variants, as Read returns it); none when it is no colour scheme.
    static std::optional<bool> darkFromColorScheme(const QVariant& value);
    // The override that an environment value asks for.
    static std::optional<bool> overrideFromEnvironment(const QByteArray& value);

signals:
    void changed(bool isDark);

private slots:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    void queryPortal();
    void readSetting(const QString& method);
    void setPortalDark(bool dark);

    std::unique_ptr<QDBusConnection> m_bus;
    bool m_portalDark = false;
    std::optional<bool> m_override;
};

} // namespace lumora
