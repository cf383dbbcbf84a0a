#pragma once

#include <QString>
#include <QUrl>

#include <functional>

namespace lumora {

// The desktop around Lumora: showing a file in the file manager, and
// handing a web or mail address to the desktop's program for it.
class Workspace {
public:
    // Hands the address to the desktop's default program for it (the
    // browser, the mail program); false when none took it. Only for
    // addresses whose scheme the caller has chosen: the desktop's opener
    // runs programs and launchers when given a local file.
    static bool openURL(const QUrl& url);

    // Shows the item at path, selected, in a window of the desktop's file
    // manager: the freedesktop file manager interface over the session bus
    // (org.freedesktop.FileManager1 ShowItems). Where no file manager
    // answers (no session bus, no such service, or the call fails), the
    // folder that holds the item opens instead. done, when given, hears
    // whether either way showed it.
    static void revealFile(const QString& path, std::function<void(bool shown)> done = {});

    // Tests replace the bus call and the opening of a folder or an address.
    // The bus call gets the item's file URL and reports through done whether
    // a file manager took it; opening gets the folder's URL, or the address.
    using ShowItems = std::function<void(const QUrl& item, std::function<void(bool shown)> done)>;
    using OpenURL = std::function<bool(const QUrl& url)>;
    static void setHandlers(ShowItems showItems, OpenURL openURL);
};

} // namespace lumora
