#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

namespace lumora {

// One running Lumora per user: a second launch hands its arguments to the
// running one over a local socket and exits, and the running one opens them.
//
// The socket lives in the user's runtime folder ($XDG_RUNTIME_DIR) and only
// the user may connect. A socket left behind by a program that died is
// noticed (nobody answers) and replaced; a lock file keeps two launches at
// the same moment from both taking over. A running instance that does not
// answer in time is left alone: the new launch then runs on its own.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Role {
        primary,    // this is the running instance now: it listens
        secondary,  // the running instance took the arguments: exit
        standalone, // neither: run without listening
    };

    static QString defaultSocketPath();

    explicit SingleInstance(QString socketPath = defaultSocketPath(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // Hands the arguments (with the folder they are relative to) to the
    // running instance, or becomes it. Waits at most timeoutMs for an answer.
    Role start(const QStringList& arguments, const QString& workingDirectory, int timeoutMs = 2000);
    bool isListening() const;
    const QString& socketPath() const { return m_path; }

    // The files among launch arguments: everything after the program name
    // that is not an option ("-log 2" included), made absolute against the
    // working folder.
    static QStringList fileArguments(const QStringList& arguments, const QString& workingDirectory);

signals:
    // In the running instance: a later launch's arguments.
    void argumentsReceived(const QStringList& arguments, const QString& workingDirectory);

private:
    enum class Sent { taken, nobody, noAnswer };
    Sent send(const QStringList& arguments, const QString& workingDirectory, int timeoutMs);
    bool listen();
    void accept();
    void read(QLocalSocket* socket);

    QString m_path;
    QPointer<QLocalServer> m_server;
};

} // namespace lumora
