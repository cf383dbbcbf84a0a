#include "document/SpellingPanel.h"

#include "platform/foundation/Localization.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace lumora {

namespace {

SpellingPanel*& panelInstance()
{
    static SpellingPanel* panel = nullptr;
    return panel;
}

} // namespace

SpellingPanel& SpellingPanel::shared()
{
    SpellingPanel*& panel = panelInstance();
    if (!panel) {
        // A window of its own, closed with the application.
        panel = new SpellingPanel;
        QObject::connect(panel, &QObject::destroyed, [] { panelInstance() = nullptr; });
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, panel, &QObject::deleteLater);
    }
    return *panel;
}

SpellingPanel* SpellingPanel::existing() { return panelInstance(); }

SpellingPanel::SpellingPanel(QWidget* parent) : QWidget(parent, Qt::Tool)
{
    setWindowTitle(localized("spelling.panel.title"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(8);
    m_message = new QLabel(this);
    m_message->setWordWrap(true);
    m_word = new QLineEdit(this);
    m_guesses = new QListWidget(this);
    m_guesses->setMinimumHeight(120);
    layout->addWidget(m_message);
    layout->addWidget(m_word);
    layout->addWidget(m_guesses, 1);

    auto* buttons = new QHBoxLayout;
    m_change = new QPushButton(localized("spelling.panel.change"), this);
    m_findNext = new QPushButton(localized("spelling.panel.findNext"), this);
    m_ignore = new QPushButton(localized("spelling.panel.ignore"), this);
    m_learn = new QPushButton(localized("spelling.panel.learn"), this);
    for (QPushButton* button : {m_change, m_findNext, m_ignore, m_learn}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    m_change->setDefault(true);
    layout->addLayout(buttons);

    connect(m_guesses, &QListWidget::currentTextChanged, this, [this](const QString& guess) {
        if (!guess.isEmpty()) m_word->setText(guess);
    });
    connect(m_guesses, &QListWidget::itemDoubleClicked, this, [this] { m_change->click(); });
    connect(m_word, &QLineEdit::textChanged, this, [this] { updateButtons(); });
    connect(m_change, &QPushButton::clicked, this, [this] {
        if (SpellingPanelClient* c = client(); c && !correction().isEmpty()) c->changeMisspelling(correction());
    });
    connect(m_findNext, &QPushButton::clicked, this, [this] {
        if (SpellingPanelClient* c = client()) c->findNextMisspelling();
    });
    connect(m_ignore, &QPushButton::clicked, this, [this] {
        if (SpellingPanelClient* c = client(); c && !m_shownWord.isEmpty()) c->ignoreMisspelling(m_shownWord);
    });
    connect(m_learn, &QPushButton::clicked, this, [this] {
        if (SpellingPanelClient* c = client(); c && !m_shownWord.isEmpty()) c->learnMisspelling(m_shownWord);
    });
    showNoMisspelling();
    resize(360, 300);
}

void SpellingPanel::setClient(SpellingPanelClient* client, QObject* owner)
{
    m_client = client;
    m_owner = owner;
    updateButtons();
}

SpellingPanelClient* SpellingPanel::client() const { return m_owner ? m_client : nullptr; }

void SpellingPanel::showMisspelling(const QString& word, const QStringList& guesses)
{
    m_shownWord = word;
    m_message->setText(guesses.isEmpty() ? localized("spelling.panel.noGuesses")
                                         : localized("spelling.panel.guesses"));
    m_guesses->clear();
    m_guesses->addItems(guesses);
    m_word->setText(word);
    if (!guesses.isEmpty()) m_guesses->setCurrentRow(0);
    updateButtons();
}

void SpellingPanel::showNoMisspelling()
{
    m_shownWord.clear();
    m_message->setText(localized("spelling.panel.none"));
    m_guesses->clear();
    m_word->clear();
    updateButtons();
}

QString SpellingPanel::word() const { return m_shownWord; }

QStringList SpellingPanel::guesses() const
{
    QStringList all;
    for (int i = 0; i < m_guesses->count(); ++i) all << m_guesses->item(i)->text();
    return all;
}

QString SpellingPanel::message() const { return m_message->text(); }

QString SpellingPanel::correction() const { return m_word->text(); }

void SpellingPanel::updateButtons()
{
    const bool hasWord = !m_shownWord.isEmpty() && client();
    m_change->setEnabled(hasWord && !m_word->text().isEmpty() && m_word->text() != m_shownWord);
    m_ignore->setEnabled(hasWord);
    m_learn->setEnabled(hasWord);
    m_findNext->setEnabled(client() != nullptr);
}

} // namespace lumora
