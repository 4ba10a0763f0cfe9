#include "core/interlockarbiter.h"

#include <QTest>

#include <map>
#include <memory>

namespace {

const QString prefix = QStringLiteral("zelvo-footswitch2/station/");

bool matches(const QString &pattern, const QString &topic)
{
    const QStringList p = pattern.split(QLatin1Char('/'));
    const QStringList t = topic.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < p.size(); ++i) {
        if (p[i] == QLatin1String("#"))
            return true;
        if (i >= t.size() || (p[i] != QLatin1String("+") && p[i] != t[i]))
            return false;
    }
    return p.size() == t.size();
}

// Positions A, B, C around one queue handled in order, as a single-threaded
// broker does: publishes and subscriptions in the order made, retained
// messages kept and sent to a new subscription, everything delivered to all
// subscribers in the one order.
struct Station
{
    struct Item
    {
        QString from, topic;
        QByteArray payload;
        bool retained = false;
        bool subscription = false;
    };

    explicit Station(bool allow)
    {
        for (const QString &name : QStringList{"A", "B", "C"}) {
            auto arbiter = std::make_unique<InterlockArbiter>(
                InterlockArbiter::Config{QStringLiteral("station"), name, QStringLiteral("g"), allow});
            arbiter->publish = [this, name](const QString &topic, const QByteArray &payload, bool retained) {
                if (live.contains(name))
                    queue.append({name, topic, payload, retained, false});
            };
            arbiter->subscribe = [this, name](const QString &pattern) {
                queue.append({name, pattern, {}, false, true});
            };
            arbiter->granted = [this, name] { log << name + QStringLiteral(" granted"); };
            arbiter->refused = [this, name](const QString &why) { log << name + QStringLiteral(" refused ") + why; };
            arbiter->inhibitChanged = [this, name](bool on) {
                log << name + (on ? QStringLiteral(" inhibited") : QStringLiteral(" free"));
            };
            arbiters[name] = std::move(arbiter);
        }
    }

    void flush()
    {
        while (!queue.isEmpty()) {
            const Item item = queue.takeFirst();
            if (item.subscription) {
                subscriptions.insert(item.from, item.topic);
                for (auto it = retainedStore.cbegin(); it != retainedStore.cend(); ++it) {
                    if (matches(item.topic, it.key()))
                        arbiters[item.from]->messageArrived(it.key(), it.value(), true, now);
                }
                continue;
            }
            if (item.retained && item.payload.isEmpty())
                retainedStore.remove(item.topic);
            else if (item.retained)
                retainedStore.insert(item.topic, item.payload);
            for (const QString &name : live) {
                const QStringList patterns = subscriptions.values(name);
                if (std::any_of(patterns.cbegin(), patterns.cend(), [&](const QString &p) { return matches(p, item.topic); }))
                    arbiters[name]->messageArrived(item.topic, item.payload, false, now);
            }
        }
    }

    void drop(const QString &name)
    {
        live.removeAll(name);
        subscriptions.remove(name);
    }

    // One step: "press A", "release A", "up A", "down A" (its connection
    // lost), "will A" (A dies: the broker publishes its will), "hang A" (A
    // goes silent, no will), "t MS" (the clock, and a tick everywhere),
    // "pub TOPIC PAYLOAD" (retained, from outside), "who A" (A's owner).
    void run(const QString &step)
    {
        const QStringList words = step.trimmed().split(QLatin1Char(' '));
        const QString verb = words.value(0);
        const QString name = words.value(1);
        if (verb == QLatin1String("press")) {
            arbiters[name]->request(now);
        } else if (verb == QLatin1String("release")) {
            arbiters[name]->release(now);
        } else if (verb == QLatin1String("up")) {
            live.append(name);
            arbiters[name]->connected(now);
        } else if (verb == QLatin1String("down")) {
            drop(name);
            arbiters[name]->disconnected(now);
        } else if (verb == QLatin1String("will")) {
            drop(name);
            queue.append({name, prefix + name + QStringLiteral("/status"), "offline", true, false});
        } else if (verb == QLatin1String("hang")) {
            drop(name);
        } else if (verb == QLatin1String("t")) {
            now = name.toLongLong();
            for (const auto &[position, arbiter] : arbiters) {
                if (live.contains(position))
                    arbiter->tick(now);
            }
        } else if (verb == QLatin1String("pub")) {
            queue.append({QString(), prefix + name, words.value(2).toUtf8(), true, false});
        } else if (verb == QLatin1String("who")) {
            log << name + QStringLiteral(" sees ") + arbiters[name]->owner();
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        }
    }

    std::map<QString, std::unique_ptr<InterlockArbiter>> arbiters;
    QList<Item> queue;
    QMap<QString, QByteArray> retainedStore;
    QMultiMap<QString, QString> subscriptions;
    QStringList live;
    QStringList log;
    qint64 now = 0;
};

} // namespace

class TestInterlockArbiter : public QObject
{
    Q_OBJECT

private slots:
    void claims_data();
    void claims();
};

void TestInterlockArbiter::claims_data()
{
    QTest::addColumn<bool>("allow");
    // Steps separated by ";"; the broker handles what is queued after each
    // step, and steps joined by "," are made before it does.
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("expected");

    const QString both = QStringLiteral("up A; up B; ");
    const QString owned = both + QStringLiteral("press A; ");
    const QString interlocked = QStringLiteral("B refused Interlocked: A is transmitting");
    const QString lost = QStringLiteral("A refused The interlock's broker cannot be reached");
    const QStringList aGranted{QStringLiteral("A granted")};
    const auto then = [&](const QStringList &more) { return aGranted + more; };

    QTest::newRow("claims cross, A's handled first") << false << both + "press A, press B"
                                                     << QStringList{"A granted", interlocked};
    QTest::newRow("claims cross, B's handled first")
        << false << both + "press B, press A" << QStringList{"B granted", "A refused Interlocked: B is transmitting"};
    QTest::newRow("press while A owns") << false << owned + "press B" << then({interlocked});
    QTest::newRow("the loser's claim is withdrawn") << false << both + "press A, press B; release A; press A"
                                                    << QStringList{"A granted", interlocked, "A granted"};
    QTest::newRow("withdrawn frees") << false << owned + "release A; press B" << then({"B granted"});
    QTest::newRow("renewed: no expiry") << false << owned + "t 1000; t 2000; t 3000; t 3900; press B"
                                        << then({interlocked});
    QTest::newRow("silent owner: not yet expired") << false << owned + "hang A; t 2900; press B" << then({interlocked});
    QTest::newRow("silent owner: expired after ttl") << false << owned + "hang A; t 3100; press B"
                                                     << then({"B granted"});
    QTest::newRow("will frees") << false << owned + "will A; press B" << then({"B granted"});
    QTest::newRow("broker lost: refused") << false << "up A; down A; press A" << QStringList{lost};
    QTest::newRow("broker lost while pending") << false << "up A; press A, down A" << QStringList{lost};
    QTest::newRow("broker lost: allowed") << true << "up A; down A; press A" << aGranted;
    QTest::newRow("still keyed after a reconnect: claims again") << false << owned + "down A; will A; up A; press B"
                                                                  << then({interlocked});
    QTest::newRow("retained claim at subscription") << false << owned + "up C; press C; who C"
                                                    << then({"C refused Interlocked: A is transmitting", "C sees A"});
    QTest::newRow("retained claims: lowest name, until expired")
        << false << R"(pub interlock/g/Z {"claim":1}; pub interlock/g/Y {"claim":1}; up A; who A; t 3100; who A)"
        << QStringList{"A sees Y", "A sees "};
    QTest::newRow("retained claim of an offline position")
        << false << R"(pub Z/status offline; pub interlock/g/Z {"claim":1}; up A; press A)" << aGranted;
    QTest::newRow("own stale claim withdrawn on connect")
        << false << R"(pub interlock/g/A {"claim":9}; up B; up A; press B)" << QStringList{"B granted"};
    QTest::newRow("remote inhibit")
        << false << R"(up A; pub interlock/g/inhibit 1; pub interlock/g/inhibit 0; pub interlock/g/inhibit {"inhibit":true})"
        << QStringList{"A inhibited", "A free", "A inhibited"};
}

void TestInterlockArbiter::claims()
{
    QFETCH(bool, allow);
    QFETCH(QString, script);
    QFETCH(QStringList, expected);

    Station station(allow);
    for (const QString &step : script.split(QLatin1Char(';'))) {
        for (const QString &action : step.split(QLatin1Char(',')))
            station.run(action);
        station.flush();
    }
    QCOMPARE(station.log, expected);
}

QTEST_GUILESS_MAIN(TestInterlockArbiter)

#include "tst_interlockarbiter.moc"
