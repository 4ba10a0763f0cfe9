#pragma once

#include <QDialog>

class FootswitchBox;
class KeyingEngine;
class Messages;
class MqttPage;
class PortsPage;
class QDialogButtonBox;
class QTabWidget;
class QVBoxLayout;
class SequencePage;
class SerialDeviceCatalog;
class SettingsStore;
class StationPage;
class StoredPortMappings;
class TlsPage;
class TransmitBox;
class WiringBox;

// The station's settings: the footswitch's and the relay's devices with the
// wiring assistant (the first page), the ports, the transmit time-out, the footswitch
// and relay wiring, the outputs keyed in sequence with the inhibit input,
// the files of encrypted network ports, and the MQTT broker. OK saves them
// all at once (the store makes each save durable) and is refused while an
// entry is unusable; Cancel leaves the settings as they were.
class SettingsWindow : public QDialog
{
    Q_OBJECT

public:
    SettingsWindow(SettingsStore &settings, SerialDeviceCatalog &devices, QWidget *parent = nullptr);

    // What the server of an encrypted network port presented at the last
    // successful connection (subject, issuer, fingerprint); empty for none.
    void setTlsPeerSummary(const QString &summary);
    // The engine and the port numbers for the wiring assistant on the Keying
    // page, which opens the ports for wiring while it is shown and closes
    // them when it is left; without them the page has no assistant. It is on
    // the station page too, and opens the numbers chosen there. With
    // `mappings`, the entries not saved yet are what the assistant opens.
    void setWiring(KeyingEngine &engine, Messages &messages, const QString &inputPort, const QString &outputPort,
                   StoredPortMappings *mappings = nullptr);

    // Shows the station page with a line that says what to do first, for a
    // start that found no settings.
    void showFirstStart();

    void accept() override;
    void done(int result) override;

private:
    bool isValid() const;
    void updateOkButton();
    void updateWiringPorts();
    // The one wiring assistant goes with the page shown: Station or Keying.
    void placeWiring();

    SettingsStore &m_settings;
    PortsPage *m_ports = nullptr;
    TransmitBox *m_transmit = nullptr;
    FootswitchBox *m_footswitch = nullptr;
    WiringBox *m_wiring = nullptr;
    StationPage *m_station = nullptr;
    QVBoxLayout *m_keyingLayout = nullptr;
    StoredPortMappings *m_mappings = nullptr;
    QString m_inputPort;
    QString m_outputPort;
    SequencePage *m_sequence = nullptr;
    TlsPage *m_tls = nullptr;
    MqttPage *m_mqtt = nullptr;
    QTabWidget *m_tabs = nullptr;
    QDialogButtonBox *m_buttons = nullptr;
};
