#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

class QThread;

// A radio keyed through its CAT interface by Hamlib, the field's rig control
// library: either a rig model on a serial device, or a rigctld daemon
// (Hamlib's network model) at HOST:PORT.
struct RigAddress
{
    static constexpr int dummyModel = 1;    // Hamlib's dummy rig
    static constexpr int rigctldModel = 2;  // Hamlib's network rig: rigctld
    static constexpr int defaultRigctldPort = 4532;

    int model = rigctldModel;
    // A serial device for a rig model, HOST:PORT (or HOST) for rigctld.
    QString port;
    int baud = 0; // 0: the model's default

    // "localhost:4532" for "localhost": rigctld's port when none is given.
    QString hamlibPathname() const;
};

// One entry of Hamlib's own list of rig models, for choosing one.
struct RigModel
{
    int model = 0;
    QString manufacturer;
    QString name;
};

// Every Hamlib call blocks, for as long as the rig or the daemon takes:
// each runs on a thread of this object's own, never on the caller's. The
// caller's thread only sees the results, as signals. A request that gets no
// answer within AnswerTimeoutMs counts as a lost rig, even while the call is
// still stuck inside Hamlib; the thread is then left to finish on its own
// and is never waited for.
class CatRig : public QObject
{
    Q_OBJECT

public:
    static constexpr int AnswerTimeoutMs = 3000;

    explicit CatRig(QObject *parent = nullptr);
    ~CatRig() override;

    // Every model Hamlib knows, by manufacturer and name.
    static QList<RigModel> models();

    // Opens in the background; opened() tells how it went.
    void open(const RigAddress &address);
    // Sets PTT and reads it back where the rig can tell; pttSet() tells.
    void setPtt(bool on);
    // Releases PTT first (in the background), then closes. Never waits.
    void close();
    bool isOpen() const { return m_open; }

signals:
    void opened(bool ok, const QString &error);
    // `confirmed`: the rig read back what was set (or cannot be asked).
    void pttSet(bool on, bool confirmed);
    // The rig failed or stopped answering while open: it is closed now.
    void lost(const QString &error);

private:
    void startWorker();
    void abandonWorker();
    void noAnswer();

    QThread *m_thread = nullptr;
    QObject *m_worker = nullptr;
    bool m_open = false;
    QTimer m_answerTimeout;
};
