#include "platform/desktop/canberrasoundalert.h"

#include <QElapsedTimer>
#include <QThread>

#include <canberra.h>

// Lives on the sound thread, with the context it made there.
class CanberraWorker : public QObject
{
public:
    explicit CanberraWorker(const QString &applicationName)
        : m_applicationName(applicationName.toUtf8())
    {
    }

    ~CanberraWorker() override
    {
        if (m_context)
            ca_context_destroy(m_context);
    }

    // `postedMs` on the monotonic clock that QElapsedTimer reads.
    void play(const char *eventId, const char *description, qint64 postedMs)
    {
        QElapsedTimer now;
        now.start();
        if (now.msecsSinceReference() - postedMs > CanberraSoundAlert::StaleMs)
            return; // the thread was busy: a late warning says the wrong time
        if (!open())
            return;
        // Asynchronous: returns once the sound server has it.
        ca_context_play(m_context, 0, CA_PROP_EVENT_ID, eventId, CA_PROP_EVENT_DESCRIPTION, description,
                        CA_PROP_CANBERRA_CACHE_CONTROL, "permanent", nullptr);
    }

private:
    bool open()
    {
        if (m_context)
            return true;
        if (m_failed)
            return false; // no sound here: not tried at every warning
        if (ca_context_create(&m_context) != CA_SUCCESS) {
            m_context = nullptr;
            m_failed = true;
            return false;
        }
        ca_context_change_props(m_context, CA_PROP_APPLICATION_NAME, m_applicationName.constData(), nullptr);
        if (ca_context_open(m_context) != CA_SUCCESS) {
            ca_context_destroy(m_context);
            m_context = nullptr;
            m_failed = true;
            return false;
        }
        return true;
    }

    QByteArray m_applicationName;
    ca_context *m_context = nullptr;
    bool m_failed = false;
};

CanberraSoundAlert::CanberraSoundAlert(const QString &applicationName, QObject *parent)
    : QObject(parent)
    , m_thread(new QThread)
    , m_worker(new CanberraWorker(applicationName))
{
    m_thread->setObjectName(QStringLiteral("zelvo-sound"));
    m_worker->moveToThread(m_thread);
    // On the sound thread as it ends: the context goes where it was made.
    QObject::connect(m_thread, &QThread::finished, m_thread, [worker = m_worker] { delete worker; },
                     Qt::DirectConnection);
    m_thread->start(QThread::LowPriority);
}

CanberraSoundAlert::~CanberraSoundAlert()
{
    m_thread->quit();
    // A sound server that hangs must not hold up the end of the program:
    // then the thread is left to the process's end.
    if (m_thread->wait(500))
        delete m_thread;
}

void CanberraSoundAlert::play(Sound sound)
{
    QElapsedTimer posted;
    posted.start();
    const char *description = sound == Sound::Warning ? "Transmit time-out near" : "Transmit time-out";
    QMetaObject::invokeMethod(m_worker, [worker = m_worker, id = eventId(sound), description,
                                         at = posted.msecsSinceReference()] { worker->play(id, description, at); },
                              Qt::QueuedConnection);
}

const char *CanberraSoundAlert::eventId(Sound sound)
{
    switch (sound) {
    case Sound::Warning:
        return "dialog-warning";
    case Sound::TimedOut:
        return "dialog-error";
    }
    return "dialog-warning";
}
