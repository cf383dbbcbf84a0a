#pragma once

#include "document/DocumentEditor.h"

#include <QMetaObject>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>

class QVBoxLayout;

namespace lumora {

class Document;
class InfoView;
class TextView;

// The editor pane of a document window: the editor, which scrolls its own
// text, and below it the statistics line, shown while the preference says
// so. The pane is the document's editor for this window (DocumentEditor):
// it binds the editor to the document's text storage and undo stack,
// applies the theme to the editor and follows the theme and statistics-line
// notifications.
//
// The statistics line shows the selection's numbers as it changes, and the
// whole text's a moment after the writer stops typing (in any window of the
// document): counting a long text on every keystroke would slow typing. It
// counts only while it is shown, and a long text (or selection) off the main
// thread, from a copy: the numbers follow a moment later, and typing never
// waits for them.
class DocumentViewController : public QWidget, public DocumentEditor {
    Q_OBJECT

public:
    explicit DocumentViewController(QWidget* parent = nullptr);
    ~DocumentViewController() override;

    TextView* textView() const { return m_textView; }
    InfoView* infoView() const { return m_infoView; }

    // Shows document in this pane (nullptr shows nothing): the editor edits
    // its text, the document counts this pane among its editors, the caret
    // goes to the start and the editor takes the keyboard focus.
    void setDocument(Document* document);

    // What the window knows of its outline pane; until there is one, the
    // pane is never shown.
    struct OutlineHooks {
        std::function<bool()> isVisible;
        std::function<void()> reload;
        std::function<void(bool)> setVisible;
    };
    void setOutlineHooks(OutlineHooks hooks) { m_outline = std::move(hooks); }

    // Background, caret and selection colours and the focus colours of the
    // editor from the current theme.
    void applyTheme();
    // Shows or hides the statistics line as the preference says.
    void applyInfoViewVisibility();

    // DocumentEditor
    void updateHighlightAttributes() override;
    void updateTypingAttributes() override;
    void updateInfo() override;
    void showWindow() override;
    bool isOutlineVisible() const override;
    void reloadOutline() override;
    void setOutlineVisible(bool visible) override;

signals:
    // An edit was refused because the document is locked.
    void editingRefused();

private:
    QVBoxLayout* m_layout = nullptr;
    TextView* m_textView = nullptr;
    InfoView* m_infoView = nullptr;
    OutlineHooks m_outline;
    QList<QMetaObject::Connection> m_documentConnections;
    QTimer m_infoTimer;
    // Counts started; a count that finishes after a later one started is
    // not shown.
    std::uint64_t m_infoGeneration = 0;
};

} // namespace lumora
