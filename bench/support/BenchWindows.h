#pragma once

#include "platform/application/DocumentBase.h"
#include "platform/files/UserDefaults.h"
#include "shell/DocumentController.h"
#include "shell/WindowController.h"

#include <QCoreApplication>
#include <QEvent>

namespace lumora::bench {

// The application's document controller, prepared as at start-up (it
// restyles open documents when the text attributes change); one for the
// whole program. Windows are closed after each use.
inline DocumentController& controller()
{
    static DocumentController* instance = [] {
        auto* c = new DocumentController(&UserDefaults::standard());
        c->prepareApplication();
        return c;
    }();
    return *instance;
}

// Closes every document and window, and lets them go.
inline void closeWindows()
{
    for (DocumentBase* document : controller().documents()) document->close();
    for (WindowController* window : WindowController::all()) delete window->window();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

} // namespace lumora::bench
