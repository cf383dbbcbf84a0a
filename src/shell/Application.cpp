#include "shell/Application.h"

#include "document/PreviewViewController.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/application/DocumentBase.h"
#include "platform/application/DocumentWindowBase.h"
#include "platform/application/SingleInstance.h"
#include "platform/foundation/Bundle.h"
#include "platform/files/FileManager.h"
#include "platform/files/FileWriter.h"
#include "platform/files/NativePath.h"
#include "platform/files/UserDefaults.h"
#include "platform/foundation/Dispatch.h"
#include "shell/DocumentController.h"
#include "shell/WindowController.h"

#ifdef LUMORA_TEST_HOOKS
#include "document/Document.h"
#include "platform/text/TextStorage.h"
#endif

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QSocketNotifier>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <thread>
#include <sys/socket.h>
#include <unistd.h>

namespace lumora {

namespace {

int g_signalPipe[2] = {-1, -1};

void noteSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[0], &byte, 1);
}

// Termination signals become a Quit on the main thread. A signal that comes
// while a question is open (the Quit's own, or any other) asks nothing more:
// what can be saved is saved, the rest goes to recovery files, and the
// program exits at once, without opening a second copy of the question.
void quitOnSignals(QApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte = 0;
        [[maybe_unused]] const auto read = ::read(g_signalPipe[1], &byte, 1);
        static bool quitting = false;
        if (QApplication::activeModalWidget() || QApplication::activePopupWidget()) {
            if (DocumentController* controller = DocumentController::shared()) controller->prepareForImmediateExit();
            std::fflush(nullptr);
            ::_exit(0);
        }
        // Between the Quit's questions: the Quit goes on.
        if (quitting) return;
        quitting = true;
        // A session that ends sends SIGTERM and kills soon after: every
        // edit is on disk before the first question opens.
        if (DocumentController* controller = DocumentController::shared()) controller->saveEditsBeforeQuitting();
        ActionDispatcher::instance().applicationCommands().terminate();
        quitting = false;
    });
    struct sigaction action = {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

// How long the libraries may take to wind down once everything is saved.
constexpr auto kWindDownTime = std::chrono::seconds(5);

// Everything is saved and every window closed: the process ends now, even
// when a library cannot wind down (the web view's threads wait for a read
// that never ends, and its teardown waits for them). A signal ends it at
// once too, since the loop that would have heard it has stopped.
void endProcessSoon(int status)
{
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::signal(signal, SIG_DFL);
    std::thread([status] {
        std::this_thread::sleep_for(kWindDownTime);
        std::fflush(nullptr);
        ::_exit(status);
    }).detach();
}

#ifdef LUMORA_TEST_HOOKS
// Test builds only: with $LUMORA_TEST_NO_AUTOSAVE set, documents never save
// themselves, so that a test knows that what reached the disk was written
// for another reason, however slowly the program runs.
void stopAutosavingForTests()
{
    if (qEnvironmentVariableIsSet("LUMORA_TEST_NO_AUTOSAVE")) DocumentBase::setAutosavingDelay(0);
}

// Test builds only: the text of $LUMORA_TEST_TYPED_TEXT is typed at the end
// of every document open after start-up, so that tests can stop and kill
// the real program while it holds edits.
void typeTestText(DocumentController& controller)
{
    const QString text = qEnvironmentVariable("LUMORA_TEST_TYPED_TEXT");
    if (text.isEmpty()) return;
    for (DocumentBase* base : controller.documents()) {
        auto* document = qobject_cast<Document*>(base);
        if (!document) continue;
        TextStorage& storage = document->data().textStorage();
        const Range at(storage.length(), 0);
        storage.replaceCharacters(at, text);
        document->undoManager().recordReplacement({at, QString(), text, at, Range(storage.length(), 0)},
                                                  UndoCoalescing::typing);
    }
}
#endif

} // namespace

int runApplication(QApplication& app, int argc, char* argv[])
{
    QApplication::setApplicationName(Bundle::name());
    QApplication::setOrganizationName(Bundle::name());
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    QApplication::setDesktopFileName(QStringLiteral("lumora"));
    QApplication::setWindowIcon(DocumentWindowBase::applicationIcon());

    // A signal during start-up waits for the main loop rather than kill
    // (other launches may find this one as soon as it listens).
    quitOnSignals(app);
    // Every byte of a file name kept (see NativePath).
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << NativePath::decode(argv[i]);
    char folder[PATH_MAX];
    const QString workingDirectory = ::getcwd(folder, sizeof folder) ? NativePath::decode(folder) : QDir::currentPath();
    SingleInstance instance;
    if (instance.start(arguments, workingDirectory) == SingleInstance::Role::secondary) return 0;
    auto controller = std::make_unique<DocumentController>(&UserDefaults::standard());
    controller->prepareApplication();
#ifdef LUMORA_TEST_HOOKS
    stopAutosavingForTests();
#endif
    // What the previews of a Lumora that crashed left behind.
    dispatch::background([] { PreviewViewController::removeAbandonedPages(); });
    // What moves to the Trash cut short by a kill left there.
    dispatch::background([] { FileManager::cleanUpInterruptedTrashMoves(); });
    // And what saves that a kill cut short left among the backups, opened
    // versions and recovery files.
    dispatch::background([] { DocumentBase::removeAbandonedFiles(); });
    QObject::connect(&instance, &SingleInstance::argumentsReceived, controller.get(),
                     [&controller](const QStringList& received, const QString& folder) {
                         controller->openHandedOverDocuments(SingleInstance::fileArguments(received, folder));
                     });
    const QStringList launchFiles = SingleInstance::fileArguments(arguments, workingDirectory);
    controller->openLaunchDocuments(launchFiles);
#ifdef LUMORA_TEST_HOOKS
    typeTestText(*controller);
#endif
    // Named files that all failed to open: their errors were shown, and
    // there is nothing to show besides.
    if (!launchFiles.isEmpty() && WindowController::all().empty()) {
        controller.reset();
        return 1;
    }

    const int status = app.exec();
    // Windows go before the documents they show.
    for (WindowController* window : WindowController::all()) delete window->window();
    controller.reset();
    endProcessSoon(status);
    return status;
}

} // namespace lumora
