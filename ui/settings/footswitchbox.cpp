#include "ui/settings/footswitchbox.h"

#include "core/stationsettings.h"
#include "platform/storage/settingsstore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QSpinBox>

using StationSettings::RelayLine;
using InputLine = SerialPortDevice::InputLine;

FootswitchBox::FootswitchBox(QWidget *parent)
    : QGroupBox(QStringLiteral("Footswitch and relay"), parent)
{
    // Pin numbers of a 9-pin serial connector, the one people solder to.
    m_line = new QComboBox;
    m_line->setObjectName(QStringLiteral("footswitchLine"));
    m_line->addItem(QStringLiteral("CTS (pin 8)"), QVariant::fromValue(int(InputLine::Cts)));
    m_line->addItem(QStringLiteral("DSR (pin 6)"), QVariant::fromValue(int(InputLine::Dsr)));
    m_line->addItem(QStringLiteral("DCD (pin 1)"), QVariant::fromValue(int(InputLine::Dcd)));
    m_line->addItem(QStringLiteral("RI (pin 9)"), QVariant::fromValue(int(InputLine::Ri)));
    m_line->setToolTip(QStringLiteral("The input line of the footswitch port that the switch pulls up."));

    m_inverted = new QCheckBox(QStringLiteral("&Normally closed switch (pressing it opens the contact)"));
    m_inverted->setObjectName(QStringLiteral("footswitchInverted"));

    m_relayLine = new QComboBox;
    m_relayLine->setObjectName(QStringLiteral("relayLine"));
    m_relayLine->addItem(QStringLiteral("RTS (pin 7)"), QVariant::fromValue(int(RelayLine::Rts)));
    m_relayLine->addItem(QStringLiteral("DTR (pin 4)"), QVariant::fromValue(int(RelayLine::Dtr)));
    m_relayLine->setToolTip(QStringLiteral("The output line of the relay port that keys the transmitter."));

    m_debounce = new QSpinBox;
    m_debounce->setObjectName(QStringLiteral("footswitchDebounce"));
    m_debounce->setRange(0, StationSettings::maxFootswitchDebounceMs);
    m_debounce->setSuffix(QStringLiteral(" ms"));
    m_debounce->setToolTip(QStringLiteral(
        "How long the switch must stay in its new position before it counts; contacts bounce when they "
        "close. 0 to %1 ms, %2 ms by default.")
        .arg(StationSettings::maxFootswitchDebounceMs)
        .arg(StationSettings::defaultFootswitchDebounceMs));

    auto *layout = new QFormLayout(this);
    layout->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    layout->addRow(QStringLiteral("&Footswitch line:"), m_line);
    layout->addRow(QString(), m_inverted);
    layout->addRow(QStringLiteral("&Relay line:"), m_relayLine);
    layout->addRow(QStringLiteral("&Debounce:"), m_debounce);
    connect(m_relayLine, &QComboBox::currentIndexChanged, this, &FootswitchBox::relayLineChanged);
}

void FootswitchBox::setFootswitch(InputLine line, bool inverted)
{
    m_line->setCurrentIndex(m_line->findData(int(line)));
    m_inverted->setChecked(inverted);
}

void FootswitchBox::load(const SettingsStore &settings)
{
    const InputLine line = StationSettings::footswitchLine(settings.get(StationSettings::footswitchLineKey));
    m_line->setCurrentIndex(m_line->findData(int(line)));
    m_inverted->setChecked(StationSettings::footswitchInverted(settings.get(StationSettings::footswitchInvertedKey)));
    const RelayLine relay = StationSettings::relayLine(settings.get(StationSettings::relayLineKey));
    m_relayLine->setCurrentIndex(m_relayLine->findData(int(relay)));
    m_debounce->setValue(StationSettings::footswitchDebounceMs(settings.get(StationSettings::footswitchDebounceKey)));
}

void FootswitchBox::save(SettingsStore &settings) const
{
    settings.save(StationSettings::footswitchLineKey,
                  StationSettings::footswitchLineText(InputLine(m_line->currentData().toInt())));
    settings.save(StationSettings::footswitchInvertedKey,
                  m_inverted->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    settings.save(StationSettings::relayLineKey,
                  StationSettings::relayLineText(RelayLine(m_relayLine->currentData().toInt())));
    settings.save(StationSettings::footswitchDebounceKey, QString::number(m_debounce->value()));
}
