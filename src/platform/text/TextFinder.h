#pragma once

#include "platform/foundation/Range.h"

#include <QObject>
#include <QString>
#include <QStringMatcher>
#include <QStringView>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace lumora {

// How a find string matches.
struct FindOptions {
    bool caseSensitive = false;
    // Only matches that neither start nor end inside a word.
    bool wholeWords = false;

    friend bool operator==(const FindOptions&, const FindOptions&) = default;
};

// Finds a literal string in a text: forwards or backwards from a position,
// going round the end when asked, or every match in a stretch. Matches do
// not overlap: the next one is looked for after the end of the last. Case is
// compared by simple case folding, one UTF-16 unit at a time.
class TextFinder {
public:
    TextFinder() = default;
    TextFinder(const QString& pattern, FindOptions options);

    const QString& pattern() const { return m_pattern; }
    FindOptions options() const { return m_options; }
    bool isEmpty() const { return m_pattern.isEmpty(); }

    // The first match that starts at or after from.
    std::optional<Range> next(QStringView text, qsizetype from) const;
    // The last match that ends at or before end.
    std::optional<Range> previous(QStringView text, qsizetype end) const;
    // Forwards from from (or backwards from it), going round once when wrap
    // is set and nothing is found on the way.
    std::optional<Range> find(QStringView text, qsizetype from, bool backwards, bool wrap) const;
    // Calls block for each match lying wholly inside range, in order; block
    // returns false to stop.
    void forEachMatch(QStringView text, Range range, const std::function<bool(Range)>& block) const;
    std::vector<Range> matches(QStringView text, Range range) const;

    // Whether match stands at word boundaries (a letter, digit or mark on
    // neither side outside it).
    static bool isWholeWord(QStringView text, Range match);

private:
    qsizetype indexIn(QStringView text, qsizetype from) const;
    bool accepts(QStringView text, qsizetype at) const;

    QString m_pattern;
    FindOptions m_options;
    QStringMatcher m_matcher;
};

// Every match of a find string in a copy of a text, found on the background
// pool so that a long text never holds up typing. Starting a new search
// cancels the one in progress; its result is never delivered. Results
// arrive on the main thread through the callback given to start().
class BackgroundFinder : public QObject {
    Q_OBJECT

public:
    struct Result {
        TextFinder finder;
        // Where each match starts, in order (each is pattern().size() long).
        std::vector<qsizetype> starts;
        // The text length the matches were found in.
        qsizetype textLength = 0;
    };
    using Callback = std::function<void(std::shared_ptr<const Result>)>;

    explicit BackgroundFinder(QObject* parent = nullptr);
    ~BackgroundFinder() override;

    // Searches text (a shared copy: the caller's string is not copied unless
    // it changes while the search runs) and calls done on the main thread.
    void start(const QString& text, const TextFinder& finder, Callback done);
    void cancel();
    bool isRunning() const { return m_running; }

    // Runs a search where it is called; cancelled gives up early.
    static std::shared_ptr<Result> search(const QString& text, const TextFinder& finder,
                                          const std::atomic<bool>* cancelled = nullptr);

private:
    std::shared_ptr<std::atomic<bool>> m_cancel;
    quint64 m_generation = 0;
    bool m_running = false;
};

} // namespace lumora
