#pragma once

#include "platform/text/TextFinder.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace lumora {

class Theme;

// The editor's find bar: a search field with the match count, previous and
// next, match case and whole words, and a second row to replace the match
// or all matches. It only reports what the writer asks for; the editor
// searches and edits.
//
// Keys: Return finds the next match, Shift+Return the previous one (in the
// replace field Return replaces); Escape asks to close the bar. Tab and
// Shift+Tab go round the bar's controls, the find field first and the
// replace field (while shown) next to it; they never leave the bar. Every
// other key typed in the bar stays in the bar: none reaches the text below.
class FindBar : public QWidget {
    Q_OBJECT

public:
    explicit FindBar(QWidget* parent = nullptr);

    QLineEdit* findField() const { return m_findField; }
    QLineEdit* replaceField() const { return m_replaceField; }
    QToolButton* matchCaseButton() const { return m_matchCase; }
    QToolButton* wholeWordsButton() const { return m_wholeWords; }
    QPushButton* replaceButton() const { return m_replace; }
    QPushButton* replaceAllButton() const { return m_replaceAll; }

    QString findString() const;
    // Shows text in the field without reporting an edit.
    void setFindString(const QString& text);
    QString replaceString() const;
    FindOptions options() const;
    void setOptions(FindOptions options);

    void setReplaceVisible(bool visible);
    bool isReplaceVisible() const;
    // Whether replacing is possible (the text may be changed).
    void setReplaceEnabled(bool enabled);

    // The count beside the field ("3 of 17", "Not found"); empty hides it.
    void setStatus(const QString& text);
    QString status() const;

    // The field takes the keyboard focus with its text selected.
    void focusFindField();

    void applyTheme(const Theme& theme);

signals:
    void findStringEdited(const QString& text);
    void optionsChanged();
    void nextRequested();
    void previousRequested();
    void replaceRequested();
    void replaceAllRequested();
    void closeRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QLineEdit* m_findField = nullptr;
    QLabel* m_status = nullptr;
    QToolButton* m_previous = nullptr;
    QToolButton* m_next = nullptr;
    QToolButton* m_matchCase = nullptr;
    QToolButton* m_wholeWords = nullptr;
    QToolButton* m_done = nullptr;
    QWidget* m_replaceRow = nullptr;
    QLineEdit* m_replaceField = nullptr;
    QPushButton* m_replace = nullptr;
    QPushButton* m_replaceAll = nullptr;
    bool m_settingText = false;
};

} // namespace lumora
