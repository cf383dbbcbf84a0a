#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace lumora {

// What the spelling panel asks of the editor it serves.
class SpellingPanelClient {
public:
    virtual ~SpellingPanelClient() = default;
    // Replaces the misspelt word shown by replacement and goes on.
    virtual void changeMisspelling(const QString& replacement) = 0;
    virtual void findNextMisspelling() = 0;
    // Accepts the word (for now, or for good) and goes on.
    virtual void ignoreMisspelling(const QString& word) = 0;
    virtual void learnMisspelling(const QString& word) = 0;
};

// The Spelling panel: the misspelt word (editable, to type a correction),
// the guesses, and Change, Find Next, Ignore and Learn. One for the
// application; it serves the editor that last showed it. Grammar is not
// checked: no grammar checker is available on this platform.
class SpellingPanel : public QWidget {
    Q_OBJECT

public:
    static SpellingPanel& shared();
    // The panel if it was ever made (tests; the editors' clean-up).
    static SpellingPanel* existing();

    // The editor the buttons act on; the panel forgets it when owner goes.
    void setClient(SpellingPanelClient* client, QObject* owner);
    bool serves(const QObject* owner) const { return m_owner == owner && owner; }

    // Shows word with its guesses; the first guess is selected.
    void showMisspelling(const QString& word, const QStringList& guesses);
    // Nothing (left) to correct.
    void showNoMisspelling();
    // The panel's state, for tests.
    QString word() const;
    QStringList guesses() const;
    QString message() const;
    // The correction the Change button applies: the chosen guess, or what
    // was typed in the word field.
    QString correction() const;

    QPushButton* changeButton() const { return m_change; }
    QPushButton* findNextButton() const { return m_findNext; }
    QPushButton* ignoreButton() const { return m_ignore; }
    QPushButton* learnButton() const { return m_learn; }
    QListWidget* guessList() const { return m_guesses; }
    QLineEdit* wordField() const { return m_word; }

private:
    explicit SpellingPanel(QWidget* parent = nullptr);
    SpellingPanelClient* client() const;
    void updateButtons();

    QLineEdit* m_word = nullptr;
    QListWidget* m_guesses = nullptr;
    QLabel* m_message = nullptr;
    QPushButton* m_change = nullptr;
    QPushButton* m_findNext = nullptr;
    QPushButton* m_ignore = nullptr;
    QPushButton* m_learn = nullptr;
    QString m_shownWord;
    SpellingPanelClient* m_client = nullptr;
    QPointer<QObject> m_owner;
};

} // namespace lumora
