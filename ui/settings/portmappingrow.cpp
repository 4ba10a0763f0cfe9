#include "ui/settings/portmappingrow.h"

#include "core/stationsettings.h"
#include "ui/settings/deviceitemdelegate.h"
#include "platform/storage/settingsstore.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QScopedValueRollback>
#include <QStyle>

namespace {

QString offeredPath(const SerialDeviceInfo &device)
{
    // The by-id name stays the same when adapters are plugged in another order.
    return device.stablePath.isEmpty() ? device.path : device.stablePath;
}

QString details(const SerialDeviceInfo &device)
{
    QStringList parts;
    if (!device.description.isEmpty())
        parts.append(device.description);
    if (!device.manufacturer.isEmpty())
        parts.append(device.manufacturer);
    if (!device.serialNumber.isEmpty())
        parts.append(QStringLiteral("serial number %1").arg(device.serialNumber));
    if (!device.stablePath.isEmpty())
        parts.append(device.path);
    return parts.join(QStringLiteral(", "));
}

enum class NoteKind { Plain, Warning, Error };

void setNote(QLabel *label, const QString &text, NoteKind kind)
{
    label->setText(text);
    switch (kind) {
    case NoteKind::Plain:
        label->setStyleSheet(QString());
        break;
    case NoteKind::Warning:
        label->setStyleSheet(QStringLiteral("color: #8a5a00;"));
        break;
    case NoteKind::Error:
        label->setStyleSheet(QStringLiteral("color: #b00020;"));
        break;
    }
}

} // namespace

PortMappingRow::PortMappingRow(int portNumber, QGridLayout *grid, int row, const SerialDeviceCatalog &devices,
                               QObject *parent)
    : PortMappingRow(QStringLiteral("Com%1:").arg(portNumber),
                     StationSettings::portKey(portNumber).toLower(), grid, row, devices, parent)
{
    m_portNumber = portNumber;
    setPlaceholder(StationSettings::defaultPortDevice(portNumber));
    m_device->setToolTip(QStringLiteral(
        "A serial device (/dev/ttyUSB0, /dev/serial/by-id/...), or a port on a network serial server:\n"
        "rfc2217://HOST:PORT, or rfc2217+tls://HOST:PORT for an encrypted link.\n"
        "Empty: the built-in %1.").arg(StationSettings::defaultPortDevice(portNumber)));
}

PortMappingRow::PortMappingRow(const QString &label, const QString &name, QGridLayout *grid, int row,
                               const SerialDeviceCatalog &devices, QObject *parent)
    : QObject(parent)
    , m_devices(devices)
{
    m_name = new QLabel(label);

    m_device = new QComboBox;
    m_device->setObjectName(name + QStringLiteral("Device"));
    m_device->setEditable(true);
    // Enter confirms the window; it must not add the typed text to the list.
    m_device->setInsertPolicy(QComboBox::NoInsert);
    // Completing inline would put a device's name into a half-typed address.
    m_device->setCompleter(nullptr);
    m_device->setItemDelegate(new DeviceItemDelegate(m_device));
    m_device->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_device->setMinimumContentsLength(44);
    m_device->setToolTip(QStringLiteral(
        "A serial device (/dev/ttyUSB0, /dev/serial/by-id/...), or a port on a network serial server:\n"
        "rfc2217://HOST:PORT, or rfc2217+tls://HOST:PORT for an encrypted link."));
    m_name->setBuddy(m_device);

    m_heartbeat = new QCheckBox(QStringLiteral("Heartbeat"));
    m_heartbeat->setObjectName(name + QStringLiteral("Heartbeat"));
    m_heartbeat->setChecked(true);
    m_heartbeat->setToolTip(QStringLiteral(
        "Sends a harmless byte now and then so that a broken network link is noticed.\n"
        "Switch it off when the port's data line feeds something that must not see any bytes."));
    // Keeps the column's width when no row shows its box, so nothing jumps.
    QSizePolicy keepSpace = m_heartbeat->sizePolicy();
    keepSpace.setRetainSizeWhenHidden(true);
    m_heartbeat->setSizePolicy(keepSpace);
    m_heartbeat->setVisible(false);

    m_note = new QLabel;
    m_note->setObjectName(name + QStringLiteral("Note"));
    m_note->setWordWrap(true);
    m_note->setMinimumWidth(300);
    m_note->setTextInteractionFlags(Qt::TextSelectableByMouse);

    grid->addWidget(m_name, row, 0);
    grid->addWidget(m_device, row, 1);
    grid->addWidget(m_heartbeat, row, 2);
    grid->addWidget(m_note, row, 3);

    connect(m_device, &QComboBox::editTextChanged, this, [this] {
        onTextChanged();
        if (!m_settingText)
            emit edited();
    });
    onTextChanged();
}

void PortMappingRow::setText(const QString &text)
{
    if (text == mapping())
        return;
    m_settingText = true;
    m_device->setEditText(text);
    m_settingText = false;
}

void PortMappingRow::setLabel(const QString &label)
{
    m_name->setText(label);
}

void PortMappingRow::setPlaceholder(const QString &text)
{
    m_device->lineEdit()->setPlaceholderText(text);
}

void PortMappingRow::load(const SettingsStore &settings)
{
    const QScopedValueRollback<bool> loading(m_settingText, true);
    const QString key = StationSettings::portKey(m_portNumber);
    m_stored = settings.storedGroupValue(StationSettings::portsGroup, key);
    m_stored.text = m_stored.text.trimmed();
    m_device->setEditText(m_stored.text);
    m_heartbeat->setChecked(StationSettings::heartbeatEnabled(settings, m_portNumber));
    onTextChanged();
}

void PortMappingRow::save(SettingsStore &settings) const
{
    const QString key = StationSettings::portKey(m_portNumber);
    const QString text = mapping();
    settings.saveGroupValue(StationSettings::portsGroup, key, text);
    // Only a network port has a heartbeat; a local device's stale "0" would
    // surprise whoever maps the number to a network port later.
    const bool heartbeatOff = StationSettings::isNetworkMapping(text) && !m_heartbeat->isChecked();
    settings.saveGroupValue(StationSettings::heartbeatGroup, key, heartbeatOff ? QStringLiteral("0") : QString());
}

bool PortMappingRow::isValid() const
{
    return m_valid;
}

QString PortMappingRow::mapping() const
{
    return m_device->currentText().trimmed();
}

void PortMappingRow::offerDevices(const QList<SerialDeviceInfo> &devices)
{
    if (m_offeredOnce && devices == m_offered)
        return;
    if (m_device->view()->isVisible())
        return;

    QLineEdit *edit = m_device->lineEdit();
    const QString text = edit->text();
    const int cursor = edit->cursorPosition();
    const int selectionStart = edit->selectionStart();
    const int selectionLength = edit->selectionLength();
    {
        const QSignalBlocker blocker(m_device);
        m_device->clear();
        for (const SerialDeviceInfo &device : devices) {
            m_device->addItem(offeredPath(device));
            const int index = m_device->count() - 1;
            const QString about = details(device);
            m_device->setItemData(index, about, DeviceItemDelegate::DetailsRole);
            m_device->setItemData(index, about, Qt::ToolTipRole);
        }
        // The list may be wider than the entry: the details are what tells
        // two adapters apart, so they must not be cut off.
        int widest = 0;
        for (int index = 0; index < m_device->count(); ++index) {
            const QString shown = m_device->itemText(index) + QStringLiteral("   \u2013 ")
                + m_device->itemData(index, DeviceItemDelegate::DetailsRole).toString();
            widest = qMax(widest, m_device->fontMetrics().horizontalAdvance(shown));
        }
        m_device->view()->setMinimumWidth(widest + 2 * m_device->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
        m_device->setCurrentIndex(m_device->findText(text));
        m_device->setEditText(text);
        if (selectionStart >= 0)
            edit->setSelection(selectionStart, selectionLength);
        else
            edit->setCursorPosition(cursor);
    }
    m_offered = devices;
    m_offeredOnce = true;
    updateNote();
}

StoredText PortMappingRow::entered() const
{
    const QString text = mapping();
    // What was loaded stays as stored (a list is still a list) until edited.
    return text == m_stored.text ? m_stored : StoredText{text};
}

void PortMappingRow::updateNote()
{
    const QString text = mapping();
    if (const auto error = StationSettings::portMappingError(entered())) {
        setNote(m_note, *error, NoteKind::Error);
        return;
    }
    if (text.isEmpty() || StationSettings::isNetworkMapping(text)) {
        setNote(m_note, QString(), NoteKind::Plain);
        return;
    }
    if (!m_devices.exists(text)) {
        setNote(m_note, QStringLiteral("Not present now; saved all the same."), NoteKind::Warning);
        return;
    }
    for (const SerialDeviceInfo &device : std::as_const(m_offered)) {
        if (device.path == text || device.stablePath == text) {
            setNote(m_note, details(device), NoteKind::Plain);
            return;
        }
    }
    setNote(m_note, QString(), NoteKind::Plain);
}

void PortMappingRow::onTextChanged()
{
    const QString text = mapping();
    // A role's row leaves the heartbeat to its port number's row.
    m_heartbeat->setVisible(m_portNumber > 0 && StationSettings::isNetworkMapping(text));
    updateNote();
    const bool valid = !StationSettings::portMappingError(entered()).has_value();
    if (valid != m_valid) {
        m_valid = valid;
        emit validityChanged();
    }
}
