#pragma once

#include "platform/foundation/Range.h"
#include "platform/text/TextFinder.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

class QPainter;
class QRect;

namespace lumora {

class FindBar;
class TextServices;
class TextView;

// Finding in one editor: the find bar above the text, with the matches
// highlighted while it is open (drawn where the text is shown, never
// stored), the count beside the field, Find Next and Previous, and
// replacing. A long text is searched on the background pool, so typing in
// the field never waits for a count. Part of the editor's TextServices,
// which gives it the text and says when it changes.
class EditorFind : public QObject {
    Q_OBJECT

public:
    EditorFind(TextView& view, TextServices& services);
    ~EditorFind() override;

    // The find string and options every editor shares (a desktop's find
    // pasteboard in small).
    static QString sharedFindString();
    static void setSharedFindString(const QString& text);
    static FindOptions sharedFindOptions();
    static void setSharedFindOptions(FindOptions options);

    FindBar* findBar() const { return m_findBar; }
    bool isFindBarVisible() const;
    void showFindBar(bool withReplace);
    // Hides the bar and gives the keyboard focus back to the text.
    void closeFindBar();
    // Selects the next (or previous) match, going round the end; false and
    // a beep when there is none.
    bool findNext(bool backwards);
    void useSelectionForFind();
    // Replaces the selected match and selects the next one.
    void replaceCurrent();
    // Replaces every match as one change and one undo step; the number
    // replaced (0 when refused or none).
    int replaceAll();
    // The count beside the find field once it is known.
    QString findStatus() const;
    // Whether the count is still being worked out.
    bool isCounting() const { return m_counter.isRunning() || m_countTimer.isActive(); }
    // The matches drawn at the last paint (tests).
    const std::vector<Range>& paintedMatches() const { return m_paintedMatches; }

    // ---- From the text services

    // Places the bar across the top of the view; the height it takes (0
    // while hidden).
    int placeFindBar();
    void paintMatches(QPainter& painter, const QRect& exposed);
    // Another text (or none) is shown: what was counted is gone.
    void textReplaced();
    // The text is gone for good (its document was destroyed first).
    void textGone();
    // The text changed: counted again after a pause in typing.
    void textChanged();
    void applyTheme();

signals:
    void findBarVisibilityChanged(bool visible);

private:
    TextFinder currentFinder() const;
    void findStringEdited(const QString& text);
    void findOptionsChanged();
    void startCount();
    void countFinished(std::shared_ptr<const BackgroundFinder::Result> result);
    void updateFindStatus();
    // Selects a match (or the search's starting point) and shows it.
    void selectMatch(Range range);

    TextView& m_view;
    TextServices& m_services;
    FindBar* m_findBar = nullptr;
    BackgroundFinder m_counter;
    std::shared_ptr<const BackgroundFinder::Result> m_count;
    bool m_countStale = true;
    QTimer m_countTimer;
    // Where the incremental search started (the selection when the writer
    // began typing in the field).
    std::optional<qsizetype> m_findAnchor;
    bool m_selectingMatch = false;
    std::vector<Range> m_paintedMatches;
    QString m_replacedStatus;
};

} // namespace lumora
