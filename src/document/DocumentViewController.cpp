#include "document/DocumentViewController.h"

#include "document/Document.h"
#include "document/EditorCommands.h"
#include "document/InfoView.h"
#include "document/TextView.h"
#include "settings/LumoraError.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QPointer>
#include <QThreadPool>
#include <QVBoxLayout>

namespace lumora {

namespace {

// How long after the last edit the statistics line counts the text again:
// with the count itself, the line is current within a second of a pause.
constexpr int kInfoRefreshDelayMs = 500;
// Stretches up to this long are counted on the spot (a few milliseconds).
constexpr qsizetype kCountedAtOnce = 100'000;

} // namespace

DocumentViewController::DocumentViewController(QWidget* parent) : QWidget(parent)
{
    resize(800, 600);
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    m_textView = new TextView(this);
    m_textView->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_layout->addWidget(m_textView, 1);
    m_infoView = new InfoView(this);
    m_infoView->hide();
    m_textView->setHooks({
        [this] { return !document() || document()->isMarkdownEnabled(); },
        [this] { return isOutlineVisible(); },
        [this] { reloadOutline(); },
        [this] { updateInfo(); },
        [this] { return !document() || !document()->isLocked(); },
        [this] { emit editingRefused(); },
    });

    // A command's failure is presented as the document's errors are.
    m_textView->commands().presentError = [this](const LumoraError& error) {
        const PlatformError presented(PlatformError::Code::generic, error.errorDescription.value_or(QString()),
                                      error.recoverySuggestion.value_or(QString()));
        if (DocumentPrompter* prompter = DocumentBase::prompter(); prompter && document())
            prompter->presentError(*document(), presented);
        else
            qWarning().noquote() << presented.message();
    };

    m_infoTimer.setSingleShot(true);
    m_infoTimer.setInterval(kInfoRefreshDelayMs);
    connect(&m_infoTimer, &QTimer::timeout, this, &DocumentViewController::updateInfo);

    applyTheme();
    applyInfoViewVisibility();

    Settings& settings = Settings::shared();
    connect(&settings, &Settings::themeChanged, this, [this] { applyTheme(); });
    connect(&settings, &Settings::infoViewVisibilityChanged, this, [this] {
        applyInfoViewVisibility();
        updateInfo();
    });
}

DocumentViewController::~DocumentViewController()
{
    for (const auto& connection : std::as_const(m_documentConnections)) disconnect(connection);
    if (Document* d = document()) d->removeEditor(*this);
}

void DocumentViewController::setDocument(Document* document)
{
    if (this->document() == document) return;
    for (const auto& connection : std::as_const(m_documentConnections)) disconnect(connection);
    m_documentConnections.clear();
    m_infoTimer.stop();
    if (Document* old = this->document()) old->removeEditor(*this);
    if (!document) {
        m_textView->setTextStorage(nullptr, nullptr);
        return;
    }
    m_textView->setTextStorage(&document->data().textStorage(), &document->undoManager());
    // A document destroyed before its window takes its storage with it.
    m_documentConnections << connect(document, &QObject::destroyed, this, [this] {
        m_infoTimer.stop();
        m_textView->forgetTextStorage();
    });
    const auto textChanged = [this] {
        if (m_infoView->isVisibleTo(this)) m_infoTimer.start();
    };
    UndoManager* undo = &document->undoManager();
    for (auto signal : {&UndoManager::changeRecorded, &UndoManager::didUndo, &UndoManager::didRedo})
        m_documentConnections << connect(undo, signal, this, textChanged);
    document->addEditor(*this);
    m_textView->setSelectedRange(Range());
    m_textView->setFocus();
}

void DocumentViewController::applyTheme()
{
    // The background, caret and selection colours, then the focus colours.
    m_textView->updateHighlightAttributes();
}

void DocumentViewController::applyInfoViewVisibility()
{
    if (Settings::shared().isInfoViewVisible()) {
        if (m_layout->indexOf(m_infoView) < 0) m_layout->addWidget(m_infoView, 0);
        m_infoView->show();
    } else {
        m_layout->removeWidget(m_infoView);
        m_infoView->hide();
    }
}

// ---- DocumentEditor ------------------------------------------------------------

void DocumentViewController::updateHighlightAttributes()
{
    m_textView->updateHighlightAttributes();
}

void DocumentViewController::updateTypingAttributes()
{
    m_textView->updateTypingAttributes();
}

void DocumentViewController::updateInfo()
{
    Document* d = document();
    // A hidden line counts nothing; showing it counts.
    if (!d || !m_infoView->isVisibleTo(this)) return;
    const std::uint64_t generation = ++m_infoGeneration;
    const Range selection = m_textView->selectedRange();
    const TextStorage& storage = d->data().textStorage();
    const Range range = selection.isEmpty() ? Range(0, storage.length()) : selection;
    if (range.length <= kCountedAtOnce) {
        m_infoView->updateInfo(d->data(), selection);
        return;
    }
    QPointer<DocumentViewController> self(this);
    QThreadPool::globalInstance()->start([self, generation, text = storage.substring(range)] {
        const qint64 words = DocumentData::wordCount(text, Range(0, text.size()));
        QMetaObject::invokeMethod(
            qApp,
            [self, generation, words, characters = text.size()] {
                if (self && self->m_infoGeneration == generation)
                    self->m_infoView->showStatistics(DocumentData::statisticsLine(words, characters));
            },
            Qt::QueuedConnection);
    });
}

void DocumentViewController::showWindow()
{
    QWidget* w = window();
    w->show();
    w->raise();
    w->activateWindow();
}

bool DocumentViewController::isOutlineVisible() const
{
    return m_outline.isVisible && m_outline.isVisible();
}

void DocumentViewController::reloadOutline()
{
    if (m_outline.reload) m_outline.reload();
}

void DocumentViewController::setOutlineVisible(bool visible)
{
    if (m_outline.setVisible) m_outline.setVisible(visible);
}

} // namespace lumora
