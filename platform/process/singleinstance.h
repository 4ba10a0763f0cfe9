#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;
class QTimer;

// One running program per settings file. Two copies would fight over the same
// serial ports and overwrite each other's settings at their ends, so a second
// start hands over to the first: it asks the running copy to come to the
// front and leaves, without having touched a port or a setting.
//
// The claim is a lock file beside the settings file; a lock left by a copy
// that crashed is recognised by its process id and taken over. The running
// copy listens on a local socket in the user's runtime folder, named after a
// hash of the settings file's path, so runs with different settings files
// (other users, other XDG_CONFIG_HOME) never meet.
//
//     SingleInstance instance(QSettingsStore::defaultFileName());
//     if (!instance.claim()) {
//         connect(&instance, &SingleInstance::handedOver, &app, &QCoreApplication::exit);
//         instance.handOver();
//         return app.exec();
//     }
//     connect(&instance, &SingleInstance::raiseRequested, &window, ...);
//
// Everything runs in the event loop: neither side ever waits.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // How long a second start tries to reach the running copy (it may hold
    // the lock a moment before it listens, or be busy).
    static constexpr int HandOverTimeoutMs = 3000;
    static constexpr int RetryIntervalMs = 50;

    explicit SingleInstance(const QString &settingsFile, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock and starts listening for raise requests. False when
    // another live program holds the lock. When the lock cannot be taken
    // for any other reason (a read-only folder) the program runs anyway:
    // true, with a warning.
    bool claim();

    // Once, after a failed claim(): asks the running copy to come to the
    // front. Emits handedOver(0) once it has confirmed, and also when it
    // could not be reached within HandOverTimeoutMs (busy, or holding the
    // lock without listening), after a line on standard error that says so:
    // a second start is never an error. Never from within this call, so the
    // caller may enter its event loop afterwards.
    void handOver();

    QString lockFileName() const { return m_lockFile.fileName(); }
    QString serverName() const { return m_serverName; }

signals:
    // In the running copy: a later start asked for the window.
    void raiseRequested();
    // In a second start: the status the program should end with.
    void handedOver(int exitStatus);

private:
    void acceptConnections();
    void readRequest(QLocalSocket *socket);
    void tryToConnect();
    void finishHandOver(int exitStatus);

    QLockFile m_lockFile;
    QString m_settingsFile;
    QString m_serverName;
    QLocalServer *m_server = nullptr;
    QLocalSocket *m_client = nullptr;
    QTimer *m_retryTimer = nullptr;
    QTimer *m_deadline = nullptr;
    bool m_finished = false;
};
