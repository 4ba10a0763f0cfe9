#pragma once

#include <QTimer>
#include <QWidget>

class PortMappingRow;
class PortsPage;
class QLabel;
class QVBoxLayout;
class SerialDeviceCatalog;
class SettingsStore;

// The station in two choices: the device the footswitch is on and the device
// or network port of the relay. Each takes a port number (its own, or a free
// one: Com1 and Com2 when nothing else is mapped) whose entry it sets on the
// Ports page, and OK stores the numbers as the main window's input and
// output. A stored file keeps its numbers until a choice here is changed,
// and an untouched page saves nothing.
class StationPage : public QWidget
{
    Q_OBJECT

public:
    // How long a typed entry must rest before the wiring assistant tries it.
    static constexpr int SettleMs = 600;

    StationPage(PortsPage &ports, const SerialDeviceCatalog &devices, QWidget *parent = nullptr);

    void load(const SettingsStore &settings);
    void save(SettingsStore &settings) const;
    bool isValid() const;

    // The numbers ("1" to "9") of the footswitch and the relay, empty for
    // one not chosen; once both are usable, for the wiring assistant.
    QString inputPort() const;
    QString outputPort() const;
    // Whether the user has changed a choice here.
    bool isEdited() const { return m_edited; }

    // A line above the others that says what to do now.
    void showGuidance(const QString &text);
    // The wiring assistant, below the choices.
    void addWiring(QWidget *wiring);

signals:
    void validityChanged();
    // The choices settled on other devices or numbers.
    void portsChanged();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    struct Role
    {
        PortMappingRow *row = nullptr;
        QString name;     // "&Footswitch", with its access key
        int number = 0;   // 0: none yet
        int stored = 0;   // as loaded
        bool taken = false; // a free number taken by this page
        QString before;   // that number's entry before it was taken
    };

    void edited(Role &role, Role &other);
    void showNumbers();
    void refreshDevices();
    bool usable(const Role &role) const;

    PortsPage &m_ports;
    const SerialDeviceCatalog &m_devices;
    Role m_input;
    Role m_output;
    QLabel *m_guidance = nullptr;
    QLabel *m_problem = nullptr;
    QVBoxLayout *m_layout = nullptr;
    QTimer m_refreshTimer{this};
    QTimer m_settle{this};
    bool m_valid = true;
    bool m_edited = false;
};
