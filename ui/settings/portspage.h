#pragma once

#include <QHash>
#include <QTimer>
#include <QWidget>

class PortMappingRow;
class QLabel;
class SerialDeviceCatalog;
class SettingsStore;

// Which device or network port each of the port numbers Com1 to Com9 stands
// for. While shown, it looks for serial devices every two seconds, since
// adapters are plugged in and out while the user is choosing.
class PortsPage : public QWidget
{
    Q_OBJECT

public:
    static constexpr int RefreshIntervalMs = 2000;

    explicit PortsPage(const SerialDeviceCatalog &devices, QWidget *parent = nullptr);

    void load(const SettingsStore &settings);
    void save(SettingsStore &settings) const;
    bool isValid() const;

    // The entry of port number `number` (1 to 9) as it will be saved.
    QString mapping(int number) const;
    // Sets the entry of a port number for another page (the station's).
    void setMapping(int number, const QString &text);
    // The numbers whose entry is empty now, in order.
    QList<int> freeNumbers() const;
    // The entries that differ from the file, by number.
    QHash<int, QString> unsavedMappings() const;

    // A line above the others that says what to do now; hidden until given.
    void showGuidance(const QString &text);

    // Offers the devices present now in every row's list.
    void refreshDevices();

signals:
    void validityChanged();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    const SerialDeviceCatalog &m_devices;
    QList<PortMappingRow *> m_rows;
    QLabel *m_guidance = nullptr;
    QTimer m_refreshTimer{this};
};
