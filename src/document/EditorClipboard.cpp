#include "document/EditorClipboard.h"

#include "document/TextServices.h"
#include "document/TextView.h"

#include "platform/text/SafeTextDocument.h"
#include "platform/text/TextStorage.h"
#include "settings/Settings.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QTextDocumentFragment>
#include <QUrl>

namespace lumora {

QString EditorClipboard::plainText(const QMimeData* source)
{
    if (!source) return {};
    if (source->hasText()) return source->text();
    if (source->hasHtml()) {
        // Nothing the HTML names (a style sheet, a background) is read.
        const SafeTextDocument noResources;
        return QTextDocumentFragment::fromHtml(source->html(), &noResources).toPlainText();
    }
    if (source->hasUrls()) {
        QStringList parts;
        for (const QUrl& url : source->urls()) parts.append(url.isLocalFile() ? url.toLocalFile() : url.toString());
        return parts.join(u'\n');
    }
    return {};
}

bool EditorClipboard::canInsert(const QMimeData* source)
{
    return source && (source->hasText() || source->hasHtml() || source->hasUrls());
}

void EditorClipboard::insert(const QMimeData* source)
{
    if (!m_view.textStorage()) return;
    const QString text = m_view.withDocumentLineEndings(plainText(source));
    if (text.isEmpty()) return;
    const Range range = m_view.selectedRange();
    m_view.replaceCharacters(range, m_view.services().smartPasteText(range, text),
                             EditOptions{UndoCoalescing::none, std::nullopt, true});
}

QMimeData* EditorClipboard::mimeDataFromSelection() const
{
    auto* data = new QMimeData;
    if (const TextStorage* storage = m_view.textStorage()) data->setText(storage->substring(m_view.selectedRange()));
    return data;
}

void EditorClipboard::copy()
{
    if (!m_view.textStorage() || m_view.selectedRange().isEmpty()) return;
    QApplication::clipboard()->setMimeData(mimeDataFromSelection());
}

void EditorClipboard::cut()
{
    if (!m_view.textStorage() || m_view.selectedRange().isEmpty()) return;
    if (Settings::shared().isNoEditingEnabled() || !m_view.checkEditable()) return;
    copy();
    m_view.deleteSelection();
}

void EditorClipboard::paste()
{
    insert(QApplication::clipboard()->mimeData());
}

void EditorClipboard::drop(QDropEvent* e)
{
    const QMimeData* source = e->mimeData();
    if (!m_view.textStorage() || !canInsert(source)) {
        e->ignore();
        return;
    }
    const QString text = plainText(source);
    const qsizetype at = m_view.cursorForPosition(e->position().toPoint()).position();
    const bool move = (e->source() == &m_view || e->source() == m_view.viewport()) && e->dropAction() == Qt::MoveAction;
    dropText(text, at, move);
    e->setDropAction(move ? Qt::MoveAction : Qt::CopyAction);
    e->accept();
    m_view.setFocus();
}

void EditorClipboard::dropText(const QString& dropped, qsizetype at, bool moveSelection)
{
    if (!m_view.textStorage() || dropped.isEmpty()) return;
    const QString text = m_view.withDocumentLineEndings(dropped);
    const Range selection = m_view.selectedRange();
    const bool move = moveSelection && !selection.isEmpty();
    if (move && at >= selection.location && at <= selection.end()) return;
    UndoManager* undo = m_view.undoManager();
    if (undo) undo->beginGroup();
    const Range inserted(at, text.size());
    const bool done = m_view.replaceCharacters(Range(at, 0), text, EditOptions{UndoCoalescing::none, inserted, true});
    if (done && move) {
        // The moved text goes away from where it was; it shifted when it
        // stood after the drop.
        const bool before = at <= selection.location;
        const Range old = before ? Range(selection.location + text.size(), selection.length) : selection;
        const Range after = before ? inserted : Range(at - selection.length, text.size());
        m_view.replaceCharacters(old, QString(), EditOptions{UndoCoalescing::none, after, false});
    }
    if (undo) undo->endGroup();
}

QMenu* EditorClipboard::contextMenu(const QPoint& position)
{
    QMenu* menu = m_view.createStandardContextMenu(position);
    QObject* control = nullptr;
    for (QObject* child : m_view.children())
        if (child->inherits("QWidgetTextControl")) control = child;
    const bool hasSelection = m_view.textStorage() && !m_view.selectedRange().isEmpty();
    const bool editable = m_view.isEditable() && !Settings::shared().isNoEditingEnabled();
    const UndoManager* undo = m_view.undoManager();
    for (QAction* action : menu->actions()) {
        if (action->menu()) {
            // Inserting control characters would bypass the gate.
            menu->removeAction(action);
            continue;
        }
        const QString name = action->objectName();
        void (TextView::*slot)() = nullptr;
        bool enabled = action->isEnabled();
        if (name == QLatin1String("edit-undo")) {
            slot = &TextView::undo;
            enabled = editable && undo && undo->canUndo();
        } else if (name == QLatin1String("edit-redo")) {
            slot = &TextView::redo;
            enabled = editable && undo && undo->canRedo();
        } else if (name == QLatin1String("edit-cut")) {
            slot = &TextView::cut;
            enabled = editable && hasSelection;
        } else if (name == QLatin1String("edit-copy")) {
            slot = &TextView::copy;
            enabled = hasSelection;
        } else if (name == QLatin1String("edit-paste")) {
            slot = &TextView::paste;
            enabled = m_view.textStorage() && canInsert(QApplication::clipboard()->mimeData());
        } else if (name == QLatin1String("edit-delete")) {
            slot = &TextView::deleteSelection;
            enabled = editable && hasSelection;
        } else {
            continue;
        }
        if (control) QObject::disconnect(action, &QAction::triggered, control, nullptr);
        QObject::connect(action, &QAction::triggered, &m_view, slot);
        action->setEnabled(enabled);
    }
    m_view.services().addContextMenuItems(menu, position);
    return menu;
}

} // namespace lumora
