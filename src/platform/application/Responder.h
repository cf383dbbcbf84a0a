#pragma once

#include <QHash>
#include <QString>

#include <functional>
#include <optional>

namespace lumora {

class MenuItem;

// An object in the responder chain: it handles some actions ("copy:",
// "toggleMarkdown:") and validates the menu items that send them.
//
// A widget that is a Responder takes part when the focus is on it or inside
// it; other objects join through ActionDispatcher (a view's controller, the
// application, the document controller) or through nextResponder() (a
// window's controller names its document).
//
// The default implementation answers from a table filled with addActionHandler();
// subclasses may override respondsTo() and perform() instead.
class Responder {
public:
    using Handler = std::function<void(MenuItem* sender)>;

    Responder() = default;
    virtual ~Responder();
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;

    virtual bool respondsTo(const QString& action) const;
    // Carries out the action; sender is the menu item, or none when the
    // action was sent by the program.
    virtual void perform(const QString& action, MenuItem* sender);
    // Whether the item is enabled; may also set its state, title and hidden
    // flag. None leaves it enabled.
    virtual std::optional<bool> validate(MenuItem& item);
    // Tried right after this responder.
    virtual Responder* nextResponder() const { return nullptr; }

protected:
    void addActionHandler(const QString& action, Handler handler);

private:
    QHash<QString, Handler> m_actions;
};

} // namespace lumora
