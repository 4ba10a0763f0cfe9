#pragma once

#include "platform/cat/rigaddress.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

class QThread;

// Every Hamlib call blocks, for as long as the rig or the daemon takes: each
// runs on the Hamlib thread the owner gives, never on the caller's, and the
// caller's thread only sees the results, as signals. All rigs share that one
// thread, because Hamlib switches the process's locale around its calls and
// two calls at once would tear it. A request that gets no answer within
// AnswerTimeoutMs counts as a lost rig, even while the call is still stuck
// inside Hamlib; its late answer is ignored.
//
// The first CatRig sets the process's numeric locale to "C". Hamlib saves
// the locale's name, switches to "C" and back around its calls, and with any
// other locale the name it saved has been freed by the switch (Hamlib 4.5).
// Qt formats numbers on its own, so nothing else here depends on it.
class CatRig : public QObject
{
    Q_OBJECT

public:
    static constexpr int AnswerTimeoutMs = 3000;

    explicit CatRig(QThread &hamlibThread, QObject *parent = nullptr);
    ~CatRig() override;

    // Every model Hamlib knows, by manufacturer and name. It walks Hamlib's
    // built-in backends without I/O (about 7 ms the first time, 0.2 ms after),
    // so the window's thread may call it. Hamlib keeps that list without a
    // lock, and opening a rig may add its backend to it: HamlibThread loads
    // every backend before it starts, after which the list no longer changes
    // and this may run while a rig opens on that thread.
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
    template<typename Call>
    void request(Call call);
    void noAnswer();

    QObject *m_worker = nullptr;
    // Counts requests, so that an answer that came too late is known.
    quint64 m_request = 0;
    bool m_open = false;
    QTimer m_answerTimeout;
};

// The thread every rig's Hamlib calls run on, for as long as the program
// runs. At its end it lets the calls still queued (a rig's release, then its
// close) finish within a bound; a thread stuck inside Hamlib past it is left
// to the end of the process rather than destroyed while it runs.
class HamlibThread
{
public:
    static constexpr int FinishBoundMs = CatRig::AnswerTimeoutMs;

    HamlibThread();
    ~HamlibThread();
    HamlibThread(const HamlibThread &) = delete;
    HamlibThread &operator=(const HamlibThread &) = delete;

    QThread &thread() { return *m_thread; }

private:
    QThread *m_thread;
};
