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
// inside Hamlib; its late answer is ignored. Errors are told in words for
// people ("rigctld at 127.0.0.1:4532 closed the connection"); Hamlib's own
// trace goes to the logging category "zelvo.hamlib" (debug), never into a
// message.
//
// The first CatRig sets the process's numeric locale to "C". Hamlib saves
// the locale's name, switches to "C" and back around its calls, and with any
// other locale the name it saved has been freed by the switch (Hamlib 4.5).
// Qt formats numbers on its own, so nothing else here depends on it.
class CatRig : public QObject
{
    Q_OBJECT

public:
    // Opening and setting PTT (which reads it back).
    static constexpr int AnswerTimeoutMs = 2000;
    // Reading PTT, to watch a rig: short, so that a rig gone silent is found
    // within a second of watching.
    static constexpr int ReadTimeoutMs = 500;

    explicit CatRig(QThread &hamlibThread, QObject *parent = nullptr);
    ~CatRig() override;

    // Every model Hamlib knows, by manufacturer and name. It loads Hamlib and
    // all of its built-in backends without I/O (about 7 ms the first time,
    // 0.2 ms after), so the window's thread may call it; nothing else loads
    // them all unless a radio is configured (HamlibThread), which keeps a
    // program without a radio light. Hamlib keeps that list without a lock:
    // HamlibThread loads every backend before its thread starts, after which
    // the list no longer changes and this may run while a rig opens there.
    static QList<RigModel> models();

    // Opens in the background, sets PTT off and reads it back: a rig counts
    // as open only once it is released. opened() tells how it went.
    void open(const RigAddress &address);
    // Sets PTT and reads it back where the rig can tell; pttSet() tells.
    void setPtt(bool on);
    // Reads PTT; pttRead() tells (or lost()).
    void readPtt();
    // A request is on its way and its answer not yet in.
    bool isBusy() const { return m_answerTimeout.isActive(); }
    // Releases PTT first (in the background), then closes. Never waits.
    void close();
    bool isOpen() const { return m_open; }

signals:
    void opened(bool ok, const QString &error);
    // PTT is set and reads back so (or the rig cannot be asked); a rig that
    // reads back otherwise is lost() instead.
    void pttSet(bool on);
    // `known`: the rig can tell at all; `on` is what it said.
    void pttRead(bool known, bool on);
    // The rig failed, stopped answering or did not follow while open: it is
    // closed now (its PTT set off on the way).
    void lost(const QString &error);

private:
    template<typename Call>
    void request(Call call, int timeoutMs = AnswerTimeoutMs);
    // The answer to the request under way: true when it says to go on.
    bool takeAnswer(quint64 request, bool ok, const QString &error);
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
