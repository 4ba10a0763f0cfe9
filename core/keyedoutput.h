#pragma once

#include "core/portsupervisor.h"
#include "platform/serial/serialportdevice.h"

#include <QObject>
#include <QString>

// One output of the chain the engine keys in order: a relay line on a serial
// port, or a radio keyed by CAT. Each is kept open in the background like a
// port: it is tried again until it comes, and a failure is told once.
//
// A step counts when the equipment has done it, not when it was sent: a
// local line when the write returned and the line reads back, a network
// port when the device server has answered the command, a radio when
// Hamlib's call returned and PTT reads back. confirmed() says so; the next
// lead or tail of the chain counts from then.
class KeyedOutput : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Opens in the background; ready() tells when it can key.
    virtual void open() = 0;
    // Released and closed on purpose: no more retries.
    virtual void close() = 0;
    virtual bool isReady() const = 0;
    // Keys or releases. False: the output failed at once, and it is being
    // opened again in the background (lost() has been emitted). True: the
    // step is under way, and confirmed() follows once it is done, maybe
    // before this returns. An output that is not open confirms a release at
    // once: there is nothing left to drive, and its own reopen releases it.
    virtual bool drive(bool keyed) = 0;
    // How long the equipment may take to confirm a step: past it the output
    // no longer counts as following.
    virtual int confirmBoundMs() const = 0;
    // A step not confirmed within the bound: the output counts as lost, is
    // closed (released on the way, as far as it still can be) and opened
    // again in the background; lost() follows.
    virtual void abandon() = 0;
    // The chain is keyed or walking: an output that watches its equipment
    // (a radio) looks more often.
    virtual void setChainActive(bool active) { (void)active; }
    // A look at an output that nothing else touches between edges, so that
    // an unplugged adapter is noticed now and not at the next press.
    virtual void check() {}

    virtual PortSupervisor::State state() const = 0;
    virtual int retries() const = 0;
    // "3" for a serial port, nothing for a radio by CAT.
    virtual QString portNumber() const { return {}; }
    // Where it is, for the state line: "/dev/ttyUSB1", "CAT localhost:4532".
    virtual QString location() const = 0;
    // What the crash handler may do to release it without the program's
    // help; nothing for a radio by CAT, which no signal handler can reach.
    virtual SerialPortDevice::CrashRelease crashRelease() const { return {}; }

signals:
    void ready();
    // The last step asked of drive() is done at the equipment.
    void confirmed(bool keyed);
    // It was ready and failed; it is closed now and being tried again.
    void lost();
    // A failure began: one message, not one per retry.
    void failed(const QString &message);
    void stateChanged();
};
