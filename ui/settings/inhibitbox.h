#pragma once

#include "core/sequencesettings.h"

#include <QGroupBox>

class QCheckBox;
class QComboBox;

// The transmit inhibit input: a modem line of an input port that, while
// active, keeps the transmitter from being keyed (an amplifier not ready,
// another station on the air). Off unless chosen.
class InhibitBox : public QGroupBox
{
    Q_OBJECT

public:
    explicit InhibitBox(QWidget *parent = nullptr);

    SequenceSettings::Inhibit value() const;
    void setValue(const SequenceSettings::Inhibit &inhibit);

signals:
    // The line or the port changed.
    void changed();

private:
    void updateEnabled();

    QComboBox *m_line = nullptr;
    QComboBox *m_port = nullptr;
    QCheckBox *m_inverted = nullptr;
};
