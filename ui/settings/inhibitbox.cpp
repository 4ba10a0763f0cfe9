#include "ui/settings/inhibitbox.h"

#include "core/stationsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>

using InputLine = SerialPortDevice::InputLine;

namespace {
// The line combo's value for "Off".
constexpr int off = -1;
} // namespace

InhibitBox::InhibitBox(QWidget *parent)
    : QGroupBox(QStringLiteral("Transmit inhibit"), parent)
{
    m_line = new QComboBox;
    m_line->setObjectName(QStringLiteral("inhibitLine"));
    m_line->addItem(QStringLiteral("Off"), off);
    m_line->addItem(QStringLiteral("CTS (pin 8)"), int(InputLine::Cts));
    m_line->addItem(QStringLiteral("DSR (pin 6)"), int(InputLine::Dsr));
    m_line->addItem(QStringLiteral("DCD (pin 1)"), int(InputLine::Dcd));
    m_line->addItem(QStringLiteral("RI (pin 9)"), int(InputLine::Ri));
    m_line->setToolTip(QStringLiteral("The input line that, while active, keeps the transmitter from being keyed."));

    m_port = new QComboBox;
    m_port->setObjectName(QStringLiteral("inhibitPort"));
    for (int number = StationSettings::firstPort; number <= StationSettings::lastPort; ++number)
        m_port->addItem(QStringLiteral("Com%1").arg(number), QString::number(number));
    m_port->setToolTip(QStringLiteral("The port the inhibit line is read on; it may be the footswitch's port."));

    m_inverted = new QCheckBox(QStringLiteral("Active when lo&w (inverted)"));
    m_inverted->setObjectName(QStringLiteral("inhibitInverted"));

    auto *hint = new QLabel(QStringLiteral(
        "While the inhibit line is active the program does not key the transmitter, by footswitch or by Tx."));
    hint->setWordWrap(true);

    auto *layout = new QFormLayout(this);
    layout->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    layout->addRow(QStringLiteral("&Inhibit line:"), m_line);
    layout->addRow(QStringLiteral("On port:"), m_port);
    layout->addRow(QString(), m_inverted);
    layout->addRow(hint);

    connect(m_line, &QComboBox::currentIndexChanged, this, &InhibitBox::updateEnabled);
    connect(m_line, &QComboBox::currentIndexChanged, this, &InhibitBox::changed);
    connect(m_port, &QComboBox::currentIndexChanged, this, &InhibitBox::changed);
    updateEnabled();
}

SequenceSettings::Inhibit InhibitBox::value() const
{
    SequenceSettings::Inhibit inhibit;
    const int line = m_line->currentData().toInt();
    inhibit.enabled = line != off;
    if (inhibit.enabled)
        inhibit.line = InputLine(line);
    inhibit.port = m_port->currentData().toString();
    inhibit.inverted = m_inverted->isChecked();
    return inhibit;
}

void InhibitBox::setValue(const SequenceSettings::Inhibit &inhibit)
{
    m_line->setCurrentIndex(m_line->findData(inhibit.enabled ? int(inhibit.line) : off));
    m_port->setCurrentIndex(qMax(0, m_port->findData(inhibit.port)));
    m_inverted->setChecked(inhibit.inverted);
}

void InhibitBox::updateEnabled()
{
    const bool on = m_line->currentData().toInt() != off;
    m_port->setEnabled(on);
    m_inverted->setEnabled(on);
}
