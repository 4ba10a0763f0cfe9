#pragma once

#include "platform/serial/serialdevicecatalog.h"
#include "platform/storage/settingsstore.h"

#include <QObject>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;

// One line of the ports page: which device or network port a port number
// stands for, its heartbeat switch (network ports only) and a note beside it
// that says why the entry is refused, that its device is absent, or which
// adapter it is.
class PortMappingRow : public QObject
{
    Q_OBJECT

public:
    // Adds its widgets to `grid` at `row`; they belong to the grid's widget.
    PortMappingRow(int portNumber, QGridLayout *grid, int row, const SerialDeviceCatalog &devices,
                   QObject *parent = nullptr);
    // A row that stands for a role rather than a number (the footswitch, the
    // relay): `label` beside it, `name` begins its widgets' object names. It
    // has no heartbeat box, and neither loads nor saves: its owner does.
    PortMappingRow(const QString &label, const QString &name, QGridLayout *grid, int row,
                   const SerialDeviceCatalog &devices, QObject *parent = nullptr);

    void load(const SettingsStore &settings);
    void save(SettingsStore &settings) const;

    bool isValid() const;
    // Whether the entry differs from what was loaded.
    bool isEdited() const { return mapping() != m_stored.text; }
    // Shows `text` without counting it as the user's edit.
    void setText(const QString &text);
    void setLabel(const QString &label);
    void setPlaceholder(const QString &text);
    // The entry as it will be saved.
    QString mapping() const;

    // Offers these devices in the drop-down list, leaving what the user typed
    // alone. Put off while the list is open, so that it does not change under
    // the pointer; the next offer catches up.
    void offerDevices(const QList<SerialDeviceInfo> &devices);
    // Says again whether the entry's device is present.
    void updateNote();

signals:
    void validityChanged();
    // The user changed the entry (not load() or setText()).
    void edited();

private:
    void onTextChanged();
    StoredText entered() const;

    int m_portNumber = 0;
    QLabel *m_name = nullptr;
    bool m_settingText = false;
    const SerialDeviceCatalog &m_devices;
    QComboBox *m_device = nullptr;
    QCheckBox *m_heartbeat = nullptr;
    QLabel *m_note = nullptr;
    QList<SerialDeviceInfo> m_offered;
    bool m_offeredOnce = false;
    bool m_valid = true;
    // The value as loaded: a list read from the file is refused as one
    // until the entry is changed.
    StoredText m_stored;
};
