#include "platform/cat/hamlibrig.h"

#include "platform/cat/hamliblibrary.h"
#include "platform/process/alternatesignalstack.h"

#include <QLoggingCategory>
#include <QThread>

#include <algorithm>
#include <clocale>
#include <cstdarg>
#include <tuple>

#include <memory>

QString RigAddress::hamlibPathname() const
{
    if (model != rigctldModel || port.contains(QLatin1Char(':')))
        return port;
    return QStringLiteral("%1:%2").arg(port).arg(defaultRigctldPort);
}

namespace {

// Off unless asked for (QT_LOGGING_RULES="zelvo.hamlib.debug=true"): Hamlib's
// own trace of every call, for whoever must see what a rig said.
Q_LOGGING_CATEGORY(lcHamlib, "zelvo.hamlib", QtWarningMsg)

int traceToCategory(enum rig_debug_level_e, rig_ptr_t, const char *format, va_list arguments)
{
    qCDebug(lcHamlib).noquote() << QString::vasprintf(format, arguments).trimmed();
    return RIG_OK;
}

void routeTrace(const HamlibLibrary &hamlib)
{
    // The trace goes to the logging category, never to a message.
    hamlib.setDebugCallback(traceToCategory, nullptr);
    hamlib.setDebug(lcHamlib().isDebugEnabled() ? RIG_DEBUG_TRACE : RIG_DEBUG_NONE);
}

QString seconds(int ms)
{
    return QStringLiteral("%1 s").arg(ms / 1000.0);
}

// What failed, in one sentence a user can act on. `opening`: while the rig
// was being opened, when a rigctld that is not there refuses the connection.
QString describe(const HamlibLibrary &hamlib, const RigAddress &address, int code, bool opening)
{
    const bool rigctld = address.model == RigAddress::rigctldModel;
    const QString where = address.hamlibPathname();
    switch (code) {
    case -RIG_ETIMEOUT:
    case RIG_ETIMEOUT:
        return QStringLiteral("no answer within %1").arg(seconds(CatRig::AnswerTimeoutMs));
    case -RIG_EIO:
    case RIG_EIO:
    case -RIG_EPROTO:
    case RIG_EPROTO:
        if (rigctld) {
            return opening ? QStringLiteral("rigctld at %1 cannot be reached").arg(where)
                           : QStringLiteral("rigctld at %1 closed the connection").arg(where);
        }
        return QStringLiteral("%1 cannot be used (input/output error)").arg(where);
    default:
        // rigerror2: the error alone; rigerror() appends Hamlib's trace.
        return QStringLiteral("%1: %2").arg(rigctld ? QStringLiteral("rigctld at %1").arg(where) : where,
                                           QString::fromLocal8Bit(hamlib.errorText(code)).trimmed());
    }
}

QString readsBackOtherwise(bool on)
{
    return QStringLiteral("PTT reads back %1 after it was set %2")
        .arg(on ? QStringLiteral("off") : QStringLiteral("on"), on ? QStringLiteral("on") : QStringLiteral("off"));
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
        m_address = address;
        if (!m_hamlib) {
            m_hamlib = std::make_unique<HamlibLibrary>();
            if (m_hamlib->isLoaded())
                routeTrace(*m_hamlib);
        }
        if (!m_hamlib->isLoaded()) {
            emit openDone(request, false, m_hamlib->error());
            return;
        }
        const HamlibLibrary &hamlib = *m_hamlib;
        RIG *rig = hamlib.init(rig_model_t(address.model));
        if (!rig) {
            emit openDone(request, false, QStringLiteral("Hamlib knows no rig model %1").arg(address.model));
            return;
        }
        const auto set = [rig, &hamlib](const char *name, const QByteArray &value) {
            hamlib.setConf(rig, hamlib.tokenLookup(rig, name), value.constData());
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
        const int result = hamlib.open(rig);
        if (result != RIG_OK) {
            hamlib.cleanup(rig);
            emit openDone(request, false, describe(hamlib, address, result, true));
            return;
        }
        m_rig = rig;
        // Hamlib answers a read of PTT from its cache of what it last set:
        // a read-back must ask the radio.
        hamlib.setCacheTimeoutMs(rig, HAMLIB_CACHE_ALL, 0);
        // Released before it counts as open: a rig left keyed by a crash, or
        // whose release never arrived, is released by every open.
        QString error;
        if (!setAndConfirm(false, &error)) {
            closeRig();
            emit openDone(request, false, error);
            return;
        }
        emit openDone(request, true, {});
    }

    void setPtt(quint64 request, bool on)
    {
        QString error;
        const bool ok = setAndConfirm(on, &error);
        emit pttDone(request, ok, on, error);
    }

    void readPtt(quint64 request)
    {
        if (!m_rig) {
            emit readDone(request, false, false, false, QStringLiteral("the rig is not open"));
            return;
        }
        if (!m_rig->caps->get_ptt) {
            emit readDone(request, true, false, false, {});
            return;
        }
        ptt_t ptt = RIG_PTT_OFF;
        const int result = m_hamlib->getPtt(m_rig, RIG_VFO_CURR, &ptt);
        if (result != RIG_OK) {
            emit readDone(request, false, false, false, describe(*m_hamlib, m_address, result, false));
            return;
        }
        emit readDone(request, true, true, ptt != RIG_PTT_OFF, {});
    }

    // PTT off first: a rigctld keeps its rig keyed when its client goes.
    void closeRig()
    {
        if (!m_rig)
            return;
        m_hamlib->setPtt(m_rig, RIG_VFO_CURR, RIG_PTT_OFF);
        m_hamlib->close(m_rig);
        m_hamlib->cleanup(m_rig);
        m_rig = nullptr;
    }

signals:
    void openDone(quint64 request, bool ok, const QString &error);
    // `ok` false: the rig failed, or PTT reads back otherwise; `error` says which.
    void pttDone(quint64 request, bool ok, bool on, const QString &error);
    void readDone(quint64 request, bool ok, bool known, bool on, const QString &error);

private:
    // True once PTT is set and reads back so (or the rig cannot be asked);
    // otherwise `error` says what went wrong.
    bool setAndConfirm(bool on, QString *error)
    {
        if (!m_rig) {
            *error = QStringLiteral("the rig is not open");
            return false;
        }
        const HamlibLibrary &hamlib = *m_hamlib;
        int result = hamlib.setPtt(m_rig, RIG_VFO_CURR, on ? RIG_PTT_ON : RIG_PTT_OFF);
        if (result != RIG_OK) {
            *error = describe(hamlib, m_address, result, false);
            return false;
        }
        if (!m_rig->caps->get_ptt)
            return true;
        ptt_t ptt = RIG_PTT_OFF;
        result = hamlib.getPtt(m_rig, RIG_VFO_CURR, &ptt);
        if (result != RIG_OK) {
            *error = describe(hamlib, m_address, result, false);
            return false;
        }
        if ((ptt != RIG_PTT_OFF) != on) {
            *error = readsBackOtherwise(on);
            return false;
        }
        return true;
    }

    // Opened on this thread, at the first open: a program without a radio
    // never loads Hamlib.
    std::unique_ptr<HamlibLibrary> m_hamlib;
    RIG *m_rig = nullptr;
    RigAddress m_address;
};

} // namespace

CatRig::CatRig(QThread &hamlibThread, QObject *parent)
    : QObject(parent)
{
    m_answerTimeout.setSingleShot(true);
    m_answerTimeout.setInterval(AnswerTimeoutMs);
    connect(&m_answerTimeout, &QTimer::timeout, this, &CatRig::noAnswer);
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
    connect(worker, &CatWorker::pttDone, this, [this](quint64 request, bool ok, bool on, const QString &error) {
        if (takeAnswer(request, ok, error))
            emit pttSet(on);
    });
    connect(worker, &CatWorker::readDone, this,
            [this](quint64 request, bool ok, bool known, bool on, const QString &error) {
                if (takeAnswer(request, ok, error))
                    emit pttRead(known, on);
            });
}

bool CatRig::takeAnswer(quint64 request, bool ok, const QString &error)
{
    if (request != m_request || !m_open)
        return false;
    m_answerTimeout.stop();
    if (!ok) {
        // A rig that fails or does not follow counts as lost; the close
        // sends its release once more.
        close();
        emit lost(error);
    }
    return ok;
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
    QList<RigModel> models;
    const HamlibLibrary hamlib;
    if (!hamlib.isLoaded())
        return models;
    routeTrace(hamlib);
    hamlib.loadAllBackends();
    hamlib.listForEach(
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
void CatRig::request(Call call, int timeoutMs)
{
    const quint64 request = ++m_request;
    m_answerTimeout.start(timeoutMs);
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

void CatRig::readPtt()
{
    if (!m_open)
        return;
    request([](CatWorker *worker, quint64 request) { worker->readPtt(request); }, ReadTimeoutMs);
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
    const QString error = QStringLiteral("no answer within %1").arg(seconds(m_answerTimeout.interval()));
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
    // Every backend now, on this thread, before any rig opens: Hamlib keeps
    // its list of models without a lock, and the window may read it (models())
    // while a rig opens on the Hamlib thread. Only a station with a radio
    // pays for them.
    const HamlibLibrary hamlib;
    if (hamlib.isLoaded()) {
        routeTrace(hamlib);
        hamlib.loadAllBackends();
    }
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
