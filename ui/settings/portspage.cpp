#include "ui/settings/portspage.h"

#include "core/stationsettings.h"
#include "ui/settings/portmappingrow.h"
#include "platform/serial/serialdevicecatalog.h"

#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

PortsPage::PortsPage(const SerialDeviceCatalog &devices, QWidget *parent)
    : QWidget(parent)
    , m_devices(devices)
{
    auto *layout = new QVBoxLayout(this);
    m_guidance = new QLabel;
    m_guidance->setObjectName(QStringLiteral("portsGuidance"));
    m_guidance->setWordWrap(true);
    QFont bold = m_guidance->font();
    bold.setBold(true);
    m_guidance->setFont(bold);
    m_guidance->hide();
    layout->addWidget(m_guidance);
    auto *intro = new QLabel(QStringLiteral(
        "The device or network port that each port number of the main window stands for. "
        "Choose a serial device from the list or type its path, or type a network port as "
        "rfc2217://HOST:PORT or rfc2217+tls://HOST:PORT (an IPv6 address in brackets). "
        "Leave an entry empty for the built-in device shown in grey."));
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto *grid = new QGridLayout;
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(3, 2);
    for (int number = StationSettings::firstPort; number <= StationSettings::lastPort; ++number) {
        auto *row = new PortMappingRow(number, grid, number - StationSettings::firstPort, m_devices, this);
        connect(row, &PortMappingRow::validityChanged, this, &PortsPage::validityChanged);
        m_rows.append(row);
    }
    layout->addLayout(grid);
    layout->addStretch();

    m_refreshTimer.setObjectName(QStringLiteral("deviceRefreshTimer"));
    m_refreshTimer.setInterval(RefreshIntervalMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &PortsPage::refreshDevices);
    refreshDevices();
}

void PortsPage::load(const SettingsStore &settings)
{
    for (PortMappingRow *row : std::as_const(m_rows))
        row->load(settings);
}

void PortsPage::save(SettingsStore &settings) const
{
    for (const PortMappingRow *row : m_rows)
        row->save(settings);
}

bool PortsPage::isValid() const
{
    return std::all_of(m_rows.cbegin(), m_rows.cend(), [](const PortMappingRow *row) { return row->isValid(); });
}

QString PortsPage::mapping(int number) const
{
    return m_rows.at(number - StationSettings::firstPort)->mapping();
}

void PortsPage::setMapping(int number, const QString &text)
{
    m_rows.at(number - StationSettings::firstPort)->setText(text);
}

QList<int> PortsPage::freeNumbers() const
{
    QList<int> free;
    for (int number = StationSettings::firstPort; number <= StationSettings::lastPort; ++number) {
        if (mapping(number).isEmpty())
            free.append(number);
    }
    return free;
}

QHash<int, QString> PortsPage::unsavedMappings() const
{
    QHash<int, QString> unsaved;
    for (int number = StationSettings::firstPort; number <= StationSettings::lastPort; ++number) {
        if (m_rows.at(number - StationSettings::firstPort)->isEdited())
            unsaved.insert(number, mapping(number));
    }
    return unsaved;
}

void PortsPage::showGuidance(const QString &text)
{
    m_guidance->setText(text);
    m_guidance->show();
}

void PortsPage::refreshDevices()
{
    const QList<SerialDeviceInfo> present = m_devices.devices();
    for (PortMappingRow *row : std::as_const(m_rows)) {
        row->offerDevices(present);
        // A typed path that the list does not hold may have come or gone too.
        row->updateNote();
    }
}

void PortsPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refreshDevices();
    m_refreshTimer.start();
}

void PortsPage::hideEvent(QHideEvent *event)
{
    m_refreshTimer.stop();
    QWidget::hideEvent(event);
}
