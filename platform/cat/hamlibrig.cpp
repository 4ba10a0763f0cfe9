#include "platform/cat/hamlibrig.h"

#include "platform/process/alternatesignalstack.h"

#include <QThread>

#include <algorithm>
#include <clocale>
#include <tuple>

#include <hamlib/rig.h>

QString RigAddress::hamlibPathname() const
{
    if (model != rigctldModel || port.contains(QLatin1Char(':')))
        return port;
    return QStringLiteral("%1:%2").arg(port).arg(defaultRigctldPort);
}

namespace {

QString hamlibError(int code)
{
    return QString::fromLocal8Bit(rigerror(code)).trimmed();
}

// Lives on the rig's own thread: every call here may block.
class CatWorker : public QObject
{
    Q_OBJECT

public:
    ~CatWorker() override { closeRig(); }

    void open(quint64 request, const RigAddress &address)
    {
        closeRig();
        RIG *rig = rig_init(rig_model_t(address.model));
        if (!rig) {
            emit openDone(request, false, QStringLiteral("Hamlib knows no rig model %1").arg(address.model));
            return;
        }
        const auto set = [rig](const char *name, const QByteArray &value) {
            rig_set_conf(rig, rig_token_lookup(rig, name), value.constData());
        };
        set("rig_pathname", address.hamlibPathname().toLocal8Bit());
        if (address.baud > 0)
            set("serial_speed", QByteArray::number(address.baud));
        // Hamlib's own bound per command, well inside the caller's.
        set("timeout", QByteArray::number(CatRig::AnswerTimeoutMs / 3));
        set("retry", "0");
        // The dummy rig keys only when told that PTT is its own business.
        if (address.model == RigAddress::dummyModel)
            set("ptt_type", "RIG");
        const int result = rig_open(rig);
        if (result != RIG_OK) {
            rig_cleanup(rig);
            emit openDone(request, false, hamlibError(result));
            return;
        }
        m_rig = rig;
        emit openDone(request, true, {});
    }

    void setPtt(quint64 request, bool on)
    {
        if (!m_rig) {
            emit pttDone(request, false, on, false, QStringLiteral("the rig is not open"));
            return;
        }
        int result = rig_set_ptt(m_rig, RIG_VFO_CURR, on ? RIG_PTT_ON : RIG_PTT_OFF);
        if (result != RIG_OK) {
            emit pttDone(request, false, on, false, hamlibError(result));
            return;
        }
        bool confirmed = true;
        if (m_rig->caps->get_ptt) {
            ptt_t ptt = RIG_PTT_OFF;
            result = rig_get_ptt(m_rig, RIG_VFO_CURR, &ptt);
            if (result != RIG_OK) {
                emit pttDone(request, false, on, false, hamlibError(result));
                return;
            }
            confirmed = (ptt != RIG_PTT_OFF) == on;
        }
        emit pttDone(request, true, on, confirmed, {});
    }

    // PTT off first: a rigctld keeps its rig keyed when its client goes.
    void closeRig()
    {
        if (!m_rig)
            return;
        rig_set_ptt(m_rig, RIG_VFO_CURR, RIG_PTT_OFF);
        rig_close(m_rig);
        rig_cleanup(m_rig);
        m_rig = nullptr;
    }

signals:
    void openDone(quint64 request, bool ok, const QString &error);
    void pttDone(quint64 request, bool ok, bool on, bool confirmed, const QString &error);

private:
    RIG *m_rig = nullptr;
};

} // namespace

CatRig::CatRig(QThread &hamlibThread, QObject *parent)
    : QObject(parent)
{
    m_answerTimeout.setSingleShot(true);
    m_answerTimeout.setInterval(AnswerTimeoutMs);
    connect(&m_answerTimeout, &QTimer::timeout, this, &CatRig::noAnswer);
    rig_set_debug(RIG_DEBUG_NONE);
    std::setlocale(LC_NUMERIC, "C");
    auto *worker = new CatWorker;
    worker->moveToThread(&hamlibThread);
    m_worker = worker;
    // Each answer carries the number of its request: one that comes after
    // the rig was given up (or closed) says nothing any more.
    connect(worker, &CatWorker::openDone, this, [this](quint64 request, bool ok, const QString &error) {
        if (request != m_request)
            return;
        m_answerTimeout.stop();
        m_open = ok;
        emit opened(ok, error);
    });
    connect(worker, &CatWorker::pttDone, this,
            [this](quint64 request, bool ok, bool on, bool confirmed, const QString &error) {
                if (request != m_request || !m_open)
                    return;
                m_answerTimeout.stop();
                if (!ok) {
                    m_open = false;
                    emit lost(error);
                    return;
                }
                emit pttSet(on, confirmed);
            });
}

CatRig::~CatRig()
{
    // The worker releases and closes the rig on its own thread, whatever it
    // is busy with now, and then goes; nobody waits for it.
    disconnect(m_worker, nullptr, this, nullptr);
    auto *worker = static_cast<CatWorker *>(m_worker);
    QMetaObject::invokeMethod(worker, [worker] { worker->closeRig(); }, Qt::QueuedConnection);
    worker->deleteLater();
}

QList<RigModel> CatRig::models()
{
    rig_set_debug(RIG_DEBUG_NONE);
    rig_load_all_backends();
    QList<RigModel> models;
    rig_list_foreach(
        [](const rig_caps *caps, rig_ptr_t data) {
            static_cast<QList<RigModel> *>(data)->append(
                RigModel{int(caps->rig_model), QString::fromLatin1(caps->mfg_name), QString::fromLatin1(caps->model_name)});
            return 1;
        },
        &models);
    std::sort(models.begin(), models.end(), [](const RigModel &a, const RigModel &b) {
        return std::tie(a.manufacturer, a.name, a.model) < std::tie(b.manufacturer, b.name, b.model);
    });
    return models;
}

template<typename Call>
void CatRig::request(Call call)
{
    const quint64 request = ++m_request;
    m_answerTimeout.start();
    auto *worker = static_cast<CatWorker *>(m_worker);
    QMetaObject::invokeMethod(worker, [worker, request, call] { call(worker, request); }, Qt::QueuedConnection);
}

void CatRig::open(const RigAddress &address)
{
    request([address](CatWorker *worker, quint64 request) { worker->open(request, address); });
}

void CatRig::setPtt(bool on)
{
    if (!m_open)
        return;
    request([on](CatWorker *worker, quint64 request) { worker->setPtt(request, on); });
}

void CatRig::close()
{
    m_open = false;
    m_answerTimeout.stop();
    ++m_request;
    auto *worker = static_cast<CatWorker *>(m_worker);
    QMetaObject::invokeMethod(worker, [worker] { worker->closeRig(); }, Qt::QueuedConnection);
}

void CatRig::noAnswer()
{
    const bool wasOpen = m_open;
    m_open = false;
    ++m_request;
    const QString error = QStringLiteral("no answer within %1 ms").arg(AnswerTimeoutMs);
    if (wasOpen)
        emit lost(error);
    else
        emit opened(false, error);
}

namespace {

// A crash inside Hamlib, a runaway recursion in a backend, must still release
// the relays: the thread's event loop runs with a signal stack of its own.
class HamlibQThread : public QThread
{
protected:
    void run() override
    {
        const AlternateSignalStack signalStack;
        exec();
    }
};

} // namespace

HamlibThread::HamlibThread()
    : m_thread(new HamlibQThread)
{
    // Every backend now, on this thread, before any rig opens: Hamlib's list
    // of models then stays as it is, and the window may read it while a rig
    // opens on the Hamlib thread.
    rig_set_debug(RIG_DEBUG_NONE);
    rig_load_all_backends();
    m_thread->setObjectName(QStringLiteral("hamlib"));
    m_thread->start();
}

HamlibThread::~HamlibThread()
{
    m_thread->quit();
    if (m_thread->wait(FinishBoundMs))
        delete m_thread;
}

#include "hamlibrig.moc"
