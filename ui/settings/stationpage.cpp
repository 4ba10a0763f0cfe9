#include "ui/settings/stationpage.h"

#include "core/relaysettings.h"
#include "core/stationsettings.h"
#include "platform/serial/serialdevicecatalog.h"
#include "platform/storage/settingsstore.h"
#include "ui/settings/portmappingrow.h"
#include "ui/settings/portspage.h"

#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

StationPage::StationPage(PortsPage &ports, const SerialDeviceCatalog &devices, QWidget *parent)
    : QWidget(parent)
    , m_ports(ports)
    , m_devices(devices)
{
    m_layout = new QVBoxLayout(this);
    m_guidance = new QLabel;
    m_guidance->setObjectName(QStringLiteral("stationGuidance"));
    m_guidance->setWordWrap(true);
    QFont bold = m_guidance->font();
    bold.setBold(true);
    m_guidance->setFont(bold);
    m_guidance->hide();
    m_layout->addWidget(m_guidance);
    auto *intro = new QLabel(QStringLiteral(
        "Choose the adapter the footswitch is plugged into and the one that drives the relay, from the "
        "list or by typing a path; a relay at a remote site is a network port, rfc2217://HOST:PORT. "
        "Each takes a port number of its own, shown beside it and on page Ports."));
    intro->setWordWrap(true);
    m_layout->addWidget(intro);

    auto *grid = new QGridLayout;
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(3, 2);
    m_input.row = new PortMappingRow(QStringLiteral("&Footswitch on:"), QStringLiteral("footswitch"), grid, 0,
                                     m_devices, this);
    m_input.name = QStringLiteral("&Footswitch");
    m_output.row = new PortMappingRow(QStringLiteral("&Relay on:"), QStringLiteral("relay"), grid, 1, m_devices, this);
    m_output.name = QStringLiteral("&Relay");
    m_layout->addLayout(grid);
    m_problem = new QLabel;
    m_problem->setObjectName(QStringLiteral("stationProblem"));
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: #b00020;"));
    m_problem->hide();
    m_layout->addWidget(m_problem);
    m_layout->addStretch();

    connect(m_input.row, &PortMappingRow::edited, this, [this] { edited(m_input, m_output); });
    connect(m_output.row, &PortMappingRow::edited, this, [this] { edited(m_output, m_input); });
    for (PortMappingRow *row : {m_input.row, m_output.row})
        connect(row, &PortMappingRow::validityChanged, this, &StationPage::showNumbers);

    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMs);
    connect(&m_settle, &QTimer::timeout, this, &StationPage::portsChanged);
    m_refreshTimer.setInterval(PortsPage::RefreshIntervalMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &StationPage::refreshDevices);
    showNumbers();
}

void StationPage::load(const SettingsStore &settings)
{
    const auto number = [&](const QString &key) {
        return int(RelaySettings::portNumber(settings.get(key)).value_or(0));
    };
    m_input.number = m_input.stored = number(RelaySettings::comPortIn);
    m_output.number = m_output.stored = number(RelaySettings::comPortOut);
    for (Role *role : {&m_input, &m_output})
        role->row->setText(role->number ? m_ports.mapping(role->number) : QString());
    showNumbers();
}

void StationPage::save(SettingsStore &settings) const
{
    // Only a choice made here: the file's numbers, and the built-in "1" of
    // a start without the assistant, stay as they are.
    if (m_input.number && m_input.number != m_input.stored)
        settings.save(RelaySettings::comPortIn, QString::number(m_input.number));
    if (m_output.number && m_output.number != m_output.stored)
        settings.save(RelaySettings::comPortOut, QString::number(m_output.number));
}

bool StationPage::isValid() const
{
    return m_valid;
}

QString StationPage::inputPort() const
{
    return usable(m_input) && usable(m_output) ? QString::number(m_input.number) : QString();
}

QString StationPage::outputPort() const
{
    return usable(m_input) && usable(m_output) ? QString::number(m_output.number) : QString();
}

bool StationPage::usable(const Role &role) const
{
    // A device typed half-way is not opened: it would only say that it
    // cannot be.
    const QString text = role.row->mapping();
    return role.number && !text.isEmpty() && role.row->isValid() && m_valid
        && (StationSettings::isNetworkMapping(text) || m_devices.exists(text));
}

void StationPage::showGuidance(const QString &text)
{
    m_guidance->setText(text);
    m_guidance->show();
}

void StationPage::addWiring(QWidget *wiring)
{
    m_layout->insertWidget(m_layout->count() - 1, wiring);
}

void StationPage::edited(Role &role, Role &other)
{
    m_edited = true;
    const QString text = role.row->mapping();
    if (text.isEmpty() && role.taken) {
        // Nothing chosen after all: the number goes back as it was.
        m_ports.setMapping(role.number, role.before);
        role.number = role.stored;
        role.taken = false;
    } else {
        if (!text.isEmpty() && (!role.number || role.number == other.number)) {
            QList<int> free = m_ports.freeNumbers();
            free.removeAll(other.number);
            // The footswitch's number first, whichever is chosen first.
            if (&role == &m_output && !other.number && free.size() > 1)
                free.removeFirst();
            if (!free.isEmpty()) {
                role.number = free.first();
                role.before = m_ports.mapping(role.number);
                role.taken = true;
            } else {
                role.number = 0; // never the other's: that would move both
            }
        }
        if (role.number && (!text.isEmpty() || role.number != other.number || role.taken))
            m_ports.setMapping(role.number, text);
    }
    showNumbers();
    m_settle.start();
}

void StationPage::showNumbers()
{
    QString problem;
    const QString in = m_input.row->mapping();
    const QString out = m_output.row->mapping();
    if (!in.isEmpty() && !m_input.number)
        problem = QStringLiteral("No port number is free for the footswitch: empty one on page Ports.");
    else if (!out.isEmpty() && !m_output.number)
        problem = QStringLiteral("No port number is free for the relay: empty one on page Ports.");
    else if (!in.isEmpty() && in == out)
        problem = QStringLiteral("The footswitch and the relay need two ports.");
    for (Role *role : {&m_input, &m_output}) {
        role->row->setLabel(role->number ? QStringLiteral("%1 on (Com%2):").arg(role->name).arg(role->number)
                                         : QStringLiteral("%1 on:").arg(role->name));
        role->row->setPlaceholder(role->number ? StationSettings::defaultPortDevice(role->number)
                                               : QStringLiteral("Choose a device or type its path"));
    }
    m_problem->setText(problem);
    m_problem->setVisible(!problem.isEmpty());
    const bool valid = problem.isEmpty() && m_input.row->isValid() && m_output.row->isValid();
    if (valid != m_valid) {
        m_valid = valid;
        emit validityChanged();
    }
}

void StationPage::refreshDevices()
{
    const QList<SerialDeviceInfo> present = m_devices.devices();
    for (PortMappingRow *row : {m_input.row, m_output.row}) {
        row->offerDevices(present);
        row->updateNote();
    }
}

void StationPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Page Ports may have changed what the numbers mean.
    for (Role *role : {&m_input, &m_output}) {
        if (role->number)
            role->row->setText(m_ports.mapping(role->number));
    }
    showNumbers();
    refreshDevices();
    m_refreshTimer.start();
}

void StationPage::hideEvent(QHideEvent *event)
{
    m_refreshTimer.stop();
    QWidget::hideEvent(event);
}
