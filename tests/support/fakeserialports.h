#pragma once

#include "platform/process/fatalsignalrelease.h"
#include "platform/serial/serialportdevice.h"

#include <QElapsedTimer>
#include <QMap>
#include <QStringList>

#include <memory>

// Serial ports in memory. Each port number has one line state that the test
// drives (CTS, presence, failures) and reads (open, RTS, writes).
struct FakeLineState
{
    bool exists = true;
    bool open = false;
    bool rts = false;
    bool cts = false;
    bool dtr = false;
    bool dsr = false;
    bool dcd = false;
    bool ri = false;
    bool gone = false;       // reads and writes fail as for an unplugged device
    bool refuseRts = false;  // RTS writes fail for another reason
    int refuseRtsWrites = 0; // so many next RTS writes fail for another reason
    bool refuseDtr = false;  // DTR writes fail for another reason
    bool refuseReads = false; // line reads fail for another reason
    bool denied = false;     // present, but opens are refused to this user
    int rtsWrites = 0;
    qint64 rtsWrittenAtNs = 0; // its last change, on FakeSerialPorts::clock when one is given
    bool closedArmed = false; // the crash handler still held the descriptor as it closed
    QString peerSummary;     // what an open port tells of its TLS server
};

class FakeSerialPorts : public SerialPortFactory
{
public:
    std::shared_ptr<FakeLineState> line(int number)
    {
        auto &state = m_lines[number];
        if (!state)
            state = std::make_shared<FakeLineState>();
        return state;
    }

    std::unique_ptr<SerialPortDevice> create(int number) override
    {
        if (number < 1 || number > 9)
            return nullptr;
        return std::make_unique<Device>(number, line(number), log, clock);
    }

    QString location(int number) const override
    {
        return number >= 1 && number <= 9 ? QStringLiteral("/dev/fake%1").arg(number) : QString();
    }

    // "open 1 rts=0", "rts 2=1", "dtr 2=0", "close 1", in order.
    QStringList log;
    // Stamps each RTS write, for a test on the real clock.
    const QElapsedTimer *clock = nullptr;

private:
    class Device : public SerialPortDevice
    {
    public:
        Device(int number, std::shared_ptr<FakeLineState> state, QStringList &log, const QElapsedTimer *clock)
            : m_number(number), m_state(std::move(state)), m_log(log), m_clock(clock) {}

        bool open(const OpenLevels &levels) override
        {
            m_log.append(QStringLiteral("open %1 rts=%2").arg(m_number).arg(int(levels.rts))
                         + (levels.dtr ? QStringLiteral(" dtr=%1").arg(int(*levels.dtr)) : QString()));
            if (!m_state->exists || m_state->open)
                return fail(Failure::OpenFailed, QStringLiteral("not available"));
            if (m_state->denied)
                return fail(Failure::PermissionDenied, QStringLiteral("no permission"));
            m_state->open = m_isOpen = true;
            m_state->rts = levels.rts;
            // As Linux does: DTR raised by the open unless set with it.
            m_state->dtr = levels.dtr && !m_state->refuseDtr ? *levels.dtr : true;
            return true;
        }
        void close() override
        {
            if (!m_isOpen)
                return;
            m_log.append(QStringLiteral("close %1").arg(m_number));
            for (int slot = 0; slot < FatalSignalRelease::slotCount; ++slot)
                m_state->closedArmed |= FatalSignalRelease::armedDescriptor(slot) == crashRelease().descriptor;
            m_state->open = m_isOpen = false;
        }
        bool setRts(bool on) override
        {
            m_log.append(QStringLiteral("rts %1=%2").arg(m_number).arg(int(on)));
            if (m_state->gone)
                return fail(Failure::DeviceLost, QStringLiteral("I/O error"));
            if (m_state->refuseRts || (m_state->refuseRtsWrites > 0 && m_state->refuseRtsWrites--))
                return fail(Failure::Other, QStringLiteral("refused"));
            if (m_clock && on != m_state->rts)
                m_state->rtsWrittenAtNs = m_clock->nsecsElapsed();
            m_state->rts = on;
            ++m_state->rtsWrites;
            return true;
        }
        bool setDtr(bool on) override
        {
            m_log.append(QStringLiteral("dtr %1=%2").arg(m_number).arg(int(on)));
            if (m_state->gone)
                return fail(Failure::DeviceLost, QStringLiteral("I/O error"));
            if (m_state->refuseDtr)
                return fail(Failure::Other, QStringLiteral("refused"));
            m_state->dtr = on;
            return true;
        }
        bool readLine(InputLine line, bool *asserted) override
        {
            if (m_state->gone)
                return fail(Failure::DeviceLost, QStringLiteral("I/O error"));
            if (m_state->refuseReads)
                return fail(Failure::Other, QStringLiteral("read refused"));
            switch (line) {
            case InputLine::Cts: *asserted = m_state->cts; break;
            case InputLine::Dsr: *asserted = m_state->dsr; break;
            case InputLine::Dcd: *asserted = m_state->dcd; break;
            case InputLine::Ri: *asserted = m_state->ri; break;
            }
            return true;
        }
        // A descriptor no process has, so that a test sees what would be
        // released without anything being touched.
        CrashRelease crashRelease() const override
        {
            return m_isOpen ? CrashRelease{CrashRelease::Kind::ModemLines, 10000 + m_number, {}} : CrashRelease{};
        }
        QString peerCertificateSummary() const override { return m_isOpen ? m_state->peerSummary : QString(); }
        Failure failure() const override { return m_failure; }
        QString errorString() const override { return m_error; }

    private:
        bool fail(Failure failure, const QString &error)
        {
            m_failure = failure;
            m_error = error;
            return false;
        }

        int m_number;
        std::shared_ptr<FakeLineState> m_state;
        QStringList &m_log;
        const QElapsedTimer *m_clock = nullptr;
        bool m_isOpen = false;
        Failure m_failure = Failure::None;
        QString m_error;
    };

    QMap<int, std::shared_ptr<FakeLineState>> m_lines;
};
