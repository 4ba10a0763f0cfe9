#pragma once

#include "platform/sound/soundalert.h"

#include <QObject>

class QThread;
class CanberraWorker;

// The desktop's event sounds through libcanberra (freedesktop sound theme):
// "dialog-warning" for the time-out's warning, "dialog-error" when the
// time-out has released the transmitter. Opening the sound server may take
// its time or hang, so libcanberra is only ever called on a thread of its
// own, its context made there at the first sound; play() only posts. A
// sound that could not start in time is dropped, and every failure is
// silent: the keying never waits for a sound.
class CanberraSoundAlert : public QObject, public SoundAlert
{
    Q_OBJECT

public:
    // A sound still waiting this long for the thread is stale: dropped.
    static constexpr int StaleMs = 1000;

    explicit CanberraSoundAlert(const QString &applicationName, QObject *parent = nullptr);
    ~CanberraSoundAlert() override;

    void play(Sound sound) override;

    static const char *eventId(Sound sound);

private:
    QThread *m_thread = nullptr;
    CanberraWorker *m_worker = nullptr;
};
