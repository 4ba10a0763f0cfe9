#pragma once

#include <QObject>
#include <QString>

// What a released chain must ask before it keys, when this position shares
// its transmitter with others. The engine asks once per transmission, keys
// only when granted, and says when its chain has released every output; the
// gate answers every request, granted or refused, within a bound of its own.
// A gate may also inhibit keying, as the inhibit line does.
class KeyingGate : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Whether a released chain must ask now.
    virtual bool isRequired() const = 0;
    // Answered later through granted() or refused(), never inside the call.
    virtual void request() = 0;
    // The chain has released every output after a grant, or no longer wants
    // what was granted: the claim goes.
    virtual void chainReleased() = 0;

signals:
    void granted();
    // One sentence for the operator ("Interlocked: position 2 is transmitting").
    void refused(const QString &reason);
    void inhibitChanged(bool inhibited);
};
