#pragma once

#include "platform/serial/serialportdevice.h"

#include <QGroupBox>

class QCheckBox;
class QComboBox;
class QSpinBox;
class SettingsStore;

// How the footswitch and the relay are wired: the input line that senses
// the switch, whether the switch opens when pressed, the output line that
// keys the transmitter, and how long the switch must settle.
class FootswitchBox : public QGroupBox
{
    Q_OBJECT

public:
    explicit FootswitchBox(QWidget *parent = nullptr);

    void load(const SettingsStore &settings);
    void save(SettingsStore &settings) const;
    // What the wiring assistant found.
    void setFootswitch(SerialPortDevice::InputLine line, bool inverted);

signals:
    void relayLineChanged();

private:
    QComboBox *m_line = nullptr;
    QCheckBox *m_inverted = nullptr;
    QComboBox *m_relayLine = nullptr;
    QSpinBox *m_debounce = nullptr;
};
