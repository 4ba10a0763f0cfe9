#include "core/stationsettings.h"

#include "core/sequencesettings.h"
#include "platform/storage/qsettingsstore.h"
#include "support/fakesettingsstore.h"

#include <QTemporaryDir>
#include <QTest>

using InputLine = SerialPortDevice::InputLine;
using StationSettings::RelayLine;
using SequenceSettings::Output;
using SequenceSettings::Sequence;

class tst_StationSettings : public QObject
{
    Q_OBJECT

private slots:
    void shouldReadTxTimeoutOrOff_data();
    void shouldReadTxTimeoutOrOff();
    void shouldReadFootswitchLineOrCts_data();
    void shouldReadFootswitchLineOrCts();
    void shouldWriteWhatItReads();
    void shouldInvertOnlyForOne_data();
    void shouldInvertOnlyForOne();
    void shouldReadRelayLineOrRts_data();
    void shouldReadRelayLineOrRts();
    void shouldReadDebounceOrTenMs_data();
    void shouldReadDebounceOrTenMs();
    void shouldKeepHeartbeatOnUnlessSwitchedOff_data();
    void shouldKeepHeartbeatOnUnlessSwitchedOff();
    void shouldTellNetworkPortsFromDevices_data();
    void shouldTellNetworkPortsFromDevices();
    void shouldRefuseUnusablePortMappings_data();
    void shouldRefuseUnusablePortMappings();
    void shouldLoadTheSequenceAsHandWritten_data();
    void shouldLoadTheSequenceAsHandWritten();
};

void tst_StationSettings::shouldReadTxTimeoutOrOff_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("seconds");
    QTest::newRow("absent") << "" << 0;
    QTest::newRow("off") << "0" << 0;
    QTest::newRow("lowest") << "1" << 1;
    QTest::newRow("suggested") << "180" << 180;
    QTest::newRow("highest") << "3600" << 3600;
    QTest::newRow("above the highest") << "3601" << 0;
    QTest::newRow("negative") << "-5" << 0;
    QTest::newRow("surrounded by spaces") << " 240\t" << 240;
    QTest::newRow("with a unit") << "180s" << 0;
    QTest::newRow("fraction") << "1.5" << 0;
    QTest::newRow("garbage") << "three minutes" << 0;
    QTest::newRow("beyond int") << "99999999999999999999" << 0;
    QTest::newRow("leading zeros") << "0060" << 60;
}

void tst_StationSettings::shouldReadTxTimeoutOrOff()
{
    QFETCH(QString, text);
    QFETCH(int, seconds);
    QCOMPARE(StationSettings::txTimeoutSeconds(text), seconds);
}

void tst_StationSettings::shouldReadFootswitchLineOrCts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<InputLine>("line");
    QTest::newRow("absent") << "" << InputLine::Cts;
    QTest::newRow("CTS") << "CTS" << InputLine::Cts;
    QTest::newRow("DSR") << "DSR" << InputLine::Dsr;
    QTest::newRow("DCD") << "DCD" << InputLine::Dcd;
    QTest::newRow("RI") << "RI" << InputLine::Ri;
    QTest::newRow("lower case, spaces") << " dsr " << InputLine::Dsr;
    QTest::newRow("an output line") << "RTS" << InputLine::Cts;
    QTest::newRow("garbage") << "pin 8" << InputLine::Cts;
}

void tst_StationSettings::shouldReadFootswitchLineOrCts()
{
    QFETCH(QString, text);
    QFETCH(InputLine, line);
    QCOMPARE(StationSettings::footswitchLine(text), line);
}

void tst_StationSettings::shouldWriteWhatItReads()
{
    for (const InputLine line : {InputLine::Cts, InputLine::Dsr, InputLine::Dcd, InputLine::Ri})
        QCOMPARE(StationSettings::footswitchLine(StationSettings::footswitchLineText(line)), line);
    for (const RelayLine line : {RelayLine::Rts, RelayLine::Dtr})
        QCOMPARE(StationSettings::relayLine(StationSettings::relayLineText(line)), line);
    QCOMPARE(StationSettings::footswitchLineText(InputLine::Cts), QStringLiteral("CTS"));
    QCOMPARE(StationSettings::relayLineText(RelayLine::Dtr), QStringLiteral("DTR"));
}

void tst_StationSettings::shouldInvertOnlyForOne_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("inverted");
    QTest::newRow("absent") << "" << false;
    QTest::newRow("0") << "0" << false;
    QTest::newRow("1") << "1" << true;
    QTest::newRow("1 with spaces") << " 1 " << true;
    QTest::newRow("2") << "2" << false;
    QTest::newRow("word") << "yes" << false;
}

void tst_StationSettings::shouldInvertOnlyForOne()
{
    QFETCH(QString, text);
    QFETCH(bool, inverted);
    QCOMPARE(StationSettings::footswitchInverted(text), inverted);
}

void tst_StationSettings::shouldReadRelayLineOrRts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<RelayLine>("line");
    QTest::newRow("absent") << "" << RelayLine::Rts;
    QTest::newRow("RTS") << "RTS" << RelayLine::Rts;
    QTest::newRow("DTR") << "DTR" << RelayLine::Dtr;
    QTest::newRow("lower case") << "dtr" << RelayLine::Dtr;
    QTest::newRow("an input line") << "CTS" << RelayLine::Rts;
    QTest::newRow("garbage") << "DTR!" << RelayLine::Rts;
}

void tst_StationSettings::shouldReadRelayLineOrRts()
{
    QFETCH(QString, text);
    QFETCH(RelayLine, line);
    QCOMPARE(StationSettings::relayLine(text), line);
}

void tst_StationSettings::shouldReadDebounceOrTenMs_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("ms");
    QTest::newRow("absent") << "" << 10;
    QTest::newRow("none") << "0" << 0;
    QTest::newRow("highest") << "500" << 500;
    QTest::newRow("above the highest") << "501" << 10;
    QTest::newRow("negative") << "-1" << 10;
    QTest::newRow("spaces") << " 25 " << 25;
    QTest::newRow("garbage") << "fast" << 10;
}

void tst_StationSettings::shouldReadDebounceOrTenMs()
{
    QFETCH(QString, text);
    QFETCH(int, ms);
    QCOMPARE(StationSettings::footswitchDebounceMs(text), ms);
}

void tst_StationSettings::shouldKeepHeartbeatOnUnlessSwitchedOff_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("absent") << QString() << true;
    QTest::newRow("0") << "0" << false;
    QTest::newRow("0 with spaces") << " 0 " << false;
    QTest::newRow("1") << "1" << true;
    QTest::newRow("garbage") << "off" << true;
}

void tst_StationSettings::shouldKeepHeartbeatOnUnlessSwitchedOff()
{
    QFETCH(QString, stored);
    QFETCH(bool, enabled);
    FakeSettingsStore settings;
    if (!stored.isNull())
        settings.values.insert(QStringLiteral("Heartbeat/Com4"), stored);
    QCOMPARE(StationSettings::heartbeatEnabled(settings, 4), enabled);
    // Another port's switch is its own.
    QVERIFY(StationSettings::heartbeatEnabled(settings, 5));
}

void tst_StationSettings::shouldTellNetworkPortsFromDevices_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("network");
    QTest::newRow("device") << "/dev/ttyUSB0" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("rfc2217") << "rfc2217://host:2000" << true;
    QTest::newRow("rfc2217 over TLS") << "rfc2217+tls://host:2000" << true;
    QTest::newRow("upper case, leading space") << " RFC2217://host:2000" << true;
    QTest::newRow("other scheme") << "telnet://host:23" << false;
}

void tst_StationSettings::shouldTellNetworkPortsFromDevices()
{
    QFETCH(QString, text);
    QFETCH(bool, network);
    QCOMPARE(StationSettings::isNetworkMapping(text), network);
}

void tst_StationSettings::shouldRefuseUnusablePortMappings_data()
{
    QTest::addColumn<QString>("text");
    // The start of the reason, empty for a usable mapping.
    QTest::addColumn<QString>("reason");

    QTest::newRow("empty: the built-in device") << "" << "";
    QTest::newRow("only spaces") << "   " << "";
    QTest::newRow("device") << "/dev/ttyUSB0" << "";
    QTest::newRow("stable name") << "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0" << "";
    QTest::newRow("device with spaces around") << "  /dev/ttyACM0\t" << "";
    QTest::newRow("relative path") << "ttyUSB0" << "A device path must be absolute";
    QTest::newRow("dot path") << "./ttyUSB0" << "A device path must be absolute";
    QTest::newRow("Windows name") << "COM3" << "A device path must be absolute";
    QTest::newRow("newline inside") << "/dev/tty\nUSB0" << "Contains a control character";
    QTest::newRow("escape") << "/dev/tty\x1b[2J" << "Contains a control character";
    QTest::newRow("delete") << "/dev/ttyUSB0\x7f" << "Contains a control character";
    QTest::newRow("257 characters") << "/" + QString(256, QLatin1Char('a')) << "Too long";
    QTest::newRow("256 characters") << "/" + QString(255, QLatin1Char('a')) << "";

    QTest::newRow("network") << "rfc2217://radio.example.org:2000" << "";
    QTest::newRow("network, trailing slash") << "rfc2217://radio:2000/" << "";
    QTest::newRow("TLS") << "rfc2217+tls://radio.example.org:4000" << "";
    QTest::newRow("upper-case scheme") << "RFC2217://10.0.0.5:7000" << "";
    QTest::newRow("IPv4") << "rfc2217://192.168.1.20:2001" << "";
    QTest::newRow("IPv6 in brackets") << "rfc2217://[::1]:2000" << "";
    QTest::newRow("IPv6 over TLS") << "rfc2217+tls://[2001:db8::7]:65535" << "";
    QTest::newRow("IPv6 without brackets") << "rfc2217://::1:2000" << "Put an IPv6 address in brackets";
    QTest::newRow("IPv6 bracket open") << "rfc2217://[::1:2000" << "Missing ']'";
    QTest::newRow("IPv6 no port") << "rfc2217://[::1]" << "Missing port number";
    QTest::newRow("IPv4 in brackets") << "rfc2217://[10.0.0.1]:2000" << "Not an IPv6 address";
    QTest::newRow("port 0") << "rfc2217://radio:0" << "The port must be a number from 1 to 65535";
    QTest::newRow("port 1") << "rfc2217://radio:1" << "";
    QTest::newRow("port 65535") << "rfc2217://radio:65535" << "";
    QTest::newRow("port 65536") << "rfc2217://radio:65536" << "The port must be a number from 1 to 65535";
    QTest::newRow("port negative") << "rfc2217://radio:-1" << "The port must be a number from 1 to 65535";
    QTest::newRow("port a word") << "rfc2217://radio:telnet" << "The port must be a number from 1 to 65535";
    QTest::newRow("no port") << "rfc2217://radio" << "Missing port number";
    QTest::newRow("empty port") << "rfc2217://radio:" << "The port must be a number from 1 to 65535";
    QTest::newRow("no host") << "rfc2217://:2000" << "Missing host name";
    QTest::newRow("nothing after the scheme") << "rfc2217://" << "Missing host and port";
    QTest::newRow("user name") << "rfc2217://me@radio:2000" << "The host name may hold only";
    QTest::newRow("space in host") << "rfc2217://my radio:2000" << "The host name may hold only";
    QTest::newRow("path after port") << "rfc2217://radio:2000/x" << "The port must be a number from 1 to 65535";
    QTest::newRow("scheme without slashes") << "rfc2217:radio:2000" << "Write a network port as";
    QTest::newRow("other scheme") << "telnet://radio:23" << "Write a network port as";
    QTest::newRow("tab in address") << "rfc2217://radio\t:2000" << "Contains a control character";
}

void tst_StationSettings::shouldRefuseUnusablePortMappings()
{
    QFETCH(QString, text);
    QFETCH(QString, reason);
    const std::optional<QString> error = StationSettings::portMappingError(text);
    if (reason.isEmpty()) {
        QVERIFY2(!error, qPrintable(error.value_or(QString())));
    } else {
        QVERIFY(error);
        QVERIFY2(error->startsWith(reason), qPrintable(*error));
    }
}

void tst_StationSettings::shouldLoadTheSequenceAsHandWritten_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<Sequence>("sequence");
    const auto with = [](int firstLead, int firstTail, const QList<Output> &more) {
        Sequence sequence;
        sequence.firstLeadMs = firstLead;
        sequence.firstTailMs = firstTail;
        sequence.more = more;
        return sequence;
    };
    const auto serial = [](const char *port, int lead, int tail) {
        Output output;
        output.port = QLatin1String(port);
        output.leadMs = lead;
        output.tailMs = tail;
        return output;
    };
    Output radio;
    radio.kind = Output::Kind::Cat;
    radio.rig = {1, QStringLiteral("/dev/ttyUSB3"), 9600};
    Sequence inhibited = with(0, 0, {radio});
    inhibited.inhibit = {true, QStringLiteral("2"), InputLine::Dsr, true};

    // Without the keys, exactly as before there were any.
    QTest::newRow("no keys") << QByteArray("[Settings]\nComPort2=3\nRelay-Line=DTR\n") << Sequence{};
    QTest::newRow("lists") << QByteArray("[Sequence]\nOutput1-Lead=10,20\nOutput2-Kind=Serial\nOutput2-Port=3,4\n")
                           << Sequence{};
    QTest::newRow("a rig port that is a list ends the list")
        << QByteArray("[Sequence]\nOutput2-Kind=Serial\nOutput2-Port=3\nOutput3-Kind=CAT\nOutput3-Rig-Model=1\n"
                      "Output3-Rig-Port=/dev/ttyUSB0,/dev/ttyUSB1\n")
        << with(0, 0, {serial("3", 0, 0)});
    QTest::newRow("leads out of range")
        << QByteArray("[Sequence]\nOutput1-Lead=5001\nOutput1-Tail=5000\nOutput2-Kind=serial\nOutput2-Lead=-5\n"
                      "Output2-Tail=12ms\nOutput2-Port=3\n")
        << with(0, 5000, {serial("3", 0, 0)});
    QTest::newRow("an output with no kind ends the list")
        << QByteArray("[Sequence]\nOutput2-Kind=Serial\nOutput2-Port=2\nOutput3-Port=3\nOutput4-Kind=Serial\n"
                      "Output4-Port=4\n")
        << with(0, 0, {serial("2", 0, 0)});
    QTest::newRow("a radio, and the inhibit on DSR")
        << QByteArray("[Settings]\nInhibit-Line=dsr\nInhibit-Port=2\nInhibit-Inverted=1\n[Sequence]\n"
                      "Output2-Kind=CAT\nOutput2-Rig-Model=1\nOutput2-Rig-Port=/dev/ttyUSB3\nOutput2-Rig-Baud=9600\n")
        << inhibited;
    QTest::newRow("an output line inhibits nothing") << QByteArray("[Settings]\nInhibit-Line=RTS\n") << Sequence{};
}

void tst_StationSettings::shouldLoadTheSequenceAsHandWritten()
{
    QFETCH(QByteArray, file);
    QFETCH(Sequence, sequence);
    QTemporaryDir folder;
    QFile ini(folder.filePath(QStringLiteral("Zelvo-Footswitch2.conf")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(file);
    ini.close();
    const Sequence loaded = SequenceSettings::load(QSettingsStore(ini.fileName()));
    QCOMPARE(loaded.more.size(), sequence.more.size());
    QVERIFY(loaded == sequence);
}

QTEST_GUILESS_MAIN(tst_StationSettings)
#include "tst_stationsettings.moc"
