#pragma once

#include "support/Patience.h"

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace lumora::test {

// The private folder this test process uses as HOME and as every XDG
// folder, made before anything reads the environment. Tests never see the
// user's real configuration or files.
QString sandboxRoot();

// A fresh, empty folder inside the sandbox for one test.
QString freshDirectory(const QString& name);

// Writes bytes to path (creating folders), failing the test on error.
void writeFile(const QString& path, const QByteArray& bytes);

// The tiny spelling dictionary shipped with the tests ("en_ZZ", a few dozen
// common English words), copied into a fresh folder of the sandbox that
// Enchant is pointed at ($ENCHANT_CONFIG_DIR), so that learnt words land in
// the sandbox too. Returns the language tag.
QString installTestDictionary();
QByteArray readFile(const QString& path);

// Roles a test runs in a child process of this same test program: a second
// Lumora beside the first, a save to kill at a chosen step. A child starts
// without running the tests, in the folders its parent gives it
// (environment), with the QApplication made; the role's return value is the
// process's exit code. Register with a static ChildRole; start with
// startChild.
using ChildRoleFunction = std::function<int(const QStringList& arguments)>;
struct ChildRole {
    ChildRole(const char* name, ChildRoleFunction function);
};
// Starts role in a child process with arguments, in environment (the
// parent's own by default: the same HOME and XDG folders), reading its
// standard output through process; its standard error goes to the test's.
// False when it could not start.
bool startChild(QProcess& process, const QString& role, const QStringList& arguments,
                const QProcessEnvironment& environment);
bool startChild(QProcess& process, const QString& role, const QStringList& arguments = {});
// For TestMain: runs the role the environment names, if any; -1 when this
// process is not a child.
int runChildRoleIfAsked(int argc, char** argv);
// The parent's environment for a child with a runtime folder of its own
// (so that two children are two running Lumoras), sharing HOME and the
// configuration and state folders.
QProcessEnvironment childEnvironmentWithOwnRuntime();
// A line the child writes to its standard output, waited for; empty when
// none came in time or the child ended.
QByteArray readLineFrom(QProcess& process, int timeoutMs = patience);

// A second Lumora in a child process that reads commands, one a line, and
// answers each with a line: started in role with arguments and a runtime
// folder of its own, waited for until it says "ready", and ended (its input
// closed) when the test is done with it.
struct CommandedChild {
    QProcess process;

    CommandedChild(const QString& role, const QStringList& arguments);
    ~CommandedChild();
    CommandedChild(const CommandedChild&) = delete;
    CommandedChild& operator=(const CommandedChild&) = delete;
    // Sends the command and returns the answer; empty when none came.
    QByteArray tell(const QByteArray& command);
};

// Runs answer on the modal dialog that opens next (other than above, a
// dialog already open under it), once its event loop runs.
void whenModal(std::function<void(QWidget*)> answer, QWidget* above = nullptr);

} // namespace lumora::test
