#include "platform/cat/hamlibrig.h"

#include <QThread>

#include <algorithm>
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

    void open(const RigAddress &address)
    {
        closeRig();
        RIG *rig = rig_init(rig_model_t(address.model));
        if (!rig) {
            emit openDone(false, QStringLiteral("Hamlib knows no rig model %1").arg(address.model));
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
            emit openDone(false, hamlibError(result));
            return;
        }
        m_rig = rig;
        emit openDone(true, {});
    }

    void setPtt(bool on)
    {
        if (!m_rig) {
            emit pttDone(false, on, false, QStringLiteral("the rig is not open"));
            return;
        }
        int result = rig_set_ptt(m_rig, RIG_VFO_CURR, on ? RIG_PTT_ON : RIG_PTT_OFF);
        if (result != RIG_OK) {
            emit pttDone(false, on, false, hamlibError(result));
            return;
        }
        bool confirmed = true;
        if (m_rig->caps->get_ptt) {
            ptt_t ptt = RIG_PTT_OFF;
            result = rig_get_ptt(m_rig, RIG_VFO_CURR, &ptt);
            if (result != RIG_OK) {
                emit pttDone(false, on, false, hamlibError(result));
                return;
            }
            confirmed = (ptt != RIG_PTT_OFF) == on;
        }
        emit pttDone(true, on, confirmed, {});
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
    void openDone(bool ok, const QString &error);
    void pttDone(bool ok, bool on, bool confirmed, const QString &error);

private:
    RIG *m_rig = nullptr;
};

} // namespace

CatRig::CatRig(QObject *parent)
    : QObject(parent)
{
    m_answerTimeout.setSingleShot(true);
    m_answerTimeout.setInterval(AnswerTimeoutMs);
    connect(&m_answerTimeout, &QTimer::timeout, this, &CatRig::noAnswer);
}

CatRig::~CatRig()
{
    close();
    abandonWorker();
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

void CatRig::startWorker()
{
    if (m_thread)
        return;
    rig_set_debug(RIG_DEBUG_NONE);
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("cat"));
    auto *worker = new CatWorker;
    worker->moveToThread(m_thread);
    m_worker = worker;
    connect(m_thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
    connect(worker, &CatWorker::openDone, this, [this](bool ok, const QString &error) {
        m_answerTimeout.stop();
        m_open = ok;
        emit opened(ok, error);
    });
    connect(worker, &CatWorker::pttDone, this, [this](bool ok, bool on, bool confirmed, const QString &error) {
        m_answerTimeout.stop();
        if (!m_open)
            return; // closed meanwhile
        if (!ok) {
            m_open = false;
            emit lost(error);
            return;
        }
        emit pttSet(on, confirmed);
    });
    m_thread->start();
}

void CatRig::open(const RigAddress &address)
{
    startWorker();
    m_answerTimeout.start();
    auto *worker = static_cast<CatWorker *>(m_worker);
    QMetaObject::invokeMethod(worker, [worker, address] { worker->open(address); }, Qt::QueuedConnection);
}

void CatRig::setPtt(bool on)
{
    if (!m_worker)
        return;
    m_answerTimeout.start();
    auto *worker = static_cast<CatWorker *>(m_worker);
    QMetaObject::invokeMethod(worker, [worker, on] { worker->setPtt(on); }, Qt::QueuedConnection);
}

void CatRig::close()
{
    m_open = false;
    m_answerTimeout.stop();
    if (!m_worker)
        return;
    auto *worker = static_cast<CatWorker *>(m_worker);
    QMetaObject::invokeMethod(worker, [worker] { worker->closeRig(); }, Qt::QueuedConnection);
}

void CatRig::abandonWorker()
{
    if (!m_thread)
        return;
    // Whatever it is stuck in, the thread releases and closes the rig when
    // it gets back, then ends and cleans up after itself; nobody waits.
    disconnect(m_worker, nullptr, this, nullptr);
    auto *worker = static_cast<CatWorker *>(m_worker);
    QMetaObject::invokeMethod(worker, [worker] {
        worker->closeRig();
        QThread::currentThread()->quit();
    }, Qt::QueuedConnection);
    m_thread = nullptr;
    m_worker = nullptr;
}

void CatRig::noAnswer()
{
    const bool wasOpen = m_open;
    m_open = false;
    abandonWorker();
    const QString error = QStringLiteral("no answer within %1 ms").arg(AnswerTimeoutMs);
    if (wasOpen)
        emit lost(error);
    else
        emit opened(false, error);
}

#include "hamlibrig.moc"
