// A test's hands in the real program: a library preloaded into lumora
// (LD_PRELOAD) that presses keys in its active window, as a writer would,
// and reports on standard output what it did and which web pages finished
// loading. It uses nothing of Lumora's own, only Qt.
//
// LUMORA_TEST_KEYS holds the key sequences to press, separated by spaces
// ("Ctrl+Alt+P"). Each one is pressed once a window with a title is
// active, and reported as "pressed <keys>". Every web view's finished load
// is reported as "page loaded ok" or "page loaded failed".
//
// With LUMORA_TEST_STUCK_AT_EXIT set, the application object's teardown
// never ends, as with a library whose threads wait for a read that never
// ends.
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QKeySequence>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <set>

#include <unistd.h>

namespace {

class Hands : public QObject {
    Q_OBJECT

public:
    explicit Hands(QStringList keys) : QObject(qApp), m_keys(std::move(keys))
    {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, &Hands::look);
        timer->start(100);
        // Web views are caught as they are made ready to show, before they
        // can load anything.
        qApp->installEventFilter(this);
    }

    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::Polish && object->isWidgetType()) watch(static_cast<QWidget*>(object));
        return false;
    }

public slots:
    void pageLoaded(bool ok)
    {
        std::printf("page loaded %s\n", ok ? "ok" : "failed");
        std::fflush(stdout);
    }

private:
    void look()
    {
        for (QWidget* widget : QApplication::allWidgets()) watch(widget);
        QWidget* window = QApplication::activeWindow();
        if (m_keys.isEmpty() || !window || window->windowTitle().isEmpty()) return;
        // The window's focus widget receives keys as the keyboard sends them.
        QWidget* target = window->focusWidget() ? window->focusWidget() : window;
        const QString keys = m_keys.takeFirst();
        const QKeyCombination combination = QKeySequence(keys)[0];
        QTest::keyClick(target, combination.key(), combination.keyboardModifiers());
        std::printf("pressed %s\n", qPrintable(keys));
        std::fflush(stdout);
    }

    void watch(QWidget* widget)
    {
        if (!widget->inherits("QWebEngineView") || m_watched.count(widget)) return;
        m_watched.insert(widget);
        connect(widget, &QObject::destroyed, this, [this, widget] { m_watched.erase(widget); });
        connect(widget, SIGNAL(loadFinished(bool)), this, SLOT(pageLoaded(bool)));
    }

    QStringList m_keys;
    std::set<QWidget*> m_watched;
};

void neverEnd()
{
    std::printf("winding down forever\n");
    std::fflush(stdout);
    for (;;) ::pause();
}

void startHands()
{
    if (qEnvironmentVariableIsSet("LUMORA_TEST_STUCK_AT_EXIT")) qAddPostRoutine(neverEnd);
    const QString keys = qEnvironmentVariable("LUMORA_TEST_KEYS");
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
    // Started from the event loop: the program's own start-up goes first.
    QTimer::singleShot(0, qApp, [keys] { new Hands(keys.split(QLatin1Char(' '), Qt::SkipEmptyParts)); });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startHands)

#include "TestHands.moc"
