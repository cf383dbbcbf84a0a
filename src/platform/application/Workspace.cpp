#include "platform/application/Workspace.h"

#include "platform/files/NativePath.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

namespace lumora {

namespace {

const QString kService = QStringLiteral("org.freedesktop.FileManager1");
const QString kPath = QStringLiteral("/org/freedesktop/FileManager1");

Workspace::ShowItems g_showItems;
Workspace::OpenURL g_openURL;

void showItemsOverBus(const QUrl& item, std::function<void(bool)> done)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusConnectionInterface* names = bus.isConnected() ? bus.interface() : nullptr;
    const bool available = names
                           && (names->isServiceRegistered(kService).value()
                               || names->activatableServiceNames().value().contains(kService));
    if (!available) {
        done(false);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("ShowItems"));
    call << QStringList{item.toString(QUrl::FullyEncoded)} << QString();
    // Never waits on the main thread: a file manager that starts slowly
    // answers later.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), nullptr);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [done = std::move(done)](QDBusPendingCallWatcher* w) {
        const bool shown = !w->isError();
        w->deleteLater();
        done(shown);
    });
}

} // namespace

bool Workspace::openURL(const QUrl& url)
{
    return g_openURL ? g_openURL(url) : QDesktopServices::openUrl(url);
}

void Workspace::setHandlers(ShowItems showItems, OpenURL openURL)
{
    g_showItems = std::move(showItems);
    g_openURL = std::move(openURL);
}

void Workspace::revealFile(const QString& path, std::function<void(bool shown)> done)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QUrl item = NativePath::fileUrl(absolute);
    const QUrl folder = NativePath::fileUrl(QFileInfo(absolute).absolutePath());
    auto fallBack = [folder, done = std::move(done)](bool shown) {
        if (!shown) shown = openURL(folder);
        if (done) done(shown);
    };
    if (g_showItems) g_showItems(item, fallBack);
    else showItemsOverBus(item, fallBack);
}

} // namespace lumora
