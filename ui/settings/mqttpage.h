#pragma once

#include <QWidget>

class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class SettingsStore;

// The MQTT broker that carries the station's state and the interlock
// between positions (group "Mqtt", see core/mqttsettings.h): its address,
// the names this position goes by, the group it shares a transmitter with,
// and what a press in that group does while the broker cannot be reached.
class MqttPage : public QWidget
{
    Q_OBJECT

public:
    explicit MqttPage(QWidget *parent = nullptr);

    void load(const SettingsStore &settings);
    void save(SettingsStore &settings) const;
    bool isValid() const { return m_valid; }

signals:
    void validityChanged();

private:
    QLineEdit *addRow(const QString &label, const QString &name, const QString &toolTip, QLabel **note);
    void validate();

    QFormLayout *m_form = nullptr;
    QLineEdit *m_broker = nullptr;
    QLineEdit *m_position = nullptr;
    QLineEdit *m_station = nullptr;
    QLineEdit *m_group = nullptr;
    QComboBox *m_whenLost = nullptr;
    QLabel *m_brokerNote = nullptr;
    QLabel *m_positionNote = nullptr;
    QLabel *m_stationNote = nullptr;
    QLabel *m_groupNote = nullptr;
    bool m_valid = true;
};
