#pragma once

#include <QGroupBox>

class QSpinBox;
class SettingsStore;

// The transmit time-out: how long the transmitter may stay keyed before the
// relay lets go by itself, so that a jammed footswitch does not hold a
// frequency for ever, and how long before that a sound warns the operator.
class TransmitBox : public QGroupBox
{
    Q_OBJECT

public:
    explicit TransmitBox(QWidget *parent = nullptr);

    void load(const SettingsStore &settings);
    void save(SettingsStore &settings) const;

private:
    QSpinBox *m_timeout = nullptr;
    QSpinBox *m_warning = nullptr;
};
