#include "core/relaysettings.h"

#include <QTest>

class tst_RelaySettings : public QObject
{
    Q_OBJECT

private slots:
    void shouldWritePositionsAsPlainNumbers_data();
    void shouldWritePositionsAsPlainNumbers();
    void shouldReadOnlyFiniteNumbers_data();
    void shouldReadOnlyFiniteNumbers();
    void shouldAcceptOnlySingleDigitPorts_data();
    void shouldAcceptOnlySingleDigitPorts();
};

void tst_RelaySettings::shouldWritePositionsAsPlainNumbers_data()
{
    QTest::addColumn<float>("twips");
    QTest::addColumn<QString>("text");
    QTest::newRow("whole") << 1650.0f << "1650";
    QTest::newRow("zero") << 0.0f << "0";
    QTest::newRow("negative, left of the primary screen") << -28800.0f << "-28800";
    QTest::newRow("large, never in exponent form") << 30000000.0f << "30000000";
    QTest::newRow("fraction") << 1234.5f << "1234.5";
}

void tst_RelaySettings::shouldWritePositionsAsPlainNumbers()
{
    QFETCH(float, twips);
    QFETCH(QString, text);
    // Whatever the user's locale: a decimal comma would not read back.
    QLocale::setDefault(QLocale(QLocale::German));
    QCOMPARE(RelaySettings::positionText(twips), text);
    QCOMPARE(RelaySettings::positionValue(text), std::optional<float>(twips));
    QLocale::setDefault(QLocale::c());
}

void tst_RelaySettings::shouldReadOnlyFiniteNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("empty") << "" << false;
    QTest::newRow("word") << "left" << false;
    QTest::newRow("infinity") << "inf" << false;
    QTest::newRow("not a number") << "nan" << false;
    QTest::newRow("beyond single precision") << "1e40" << false;
    QTest::newRow("whole") << "3495" << true;
    QTest::newRow("negative") << "-150" << true;
}

void tst_RelaySettings::shouldReadOnlyFiniteNumbers()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(RelaySettings::positionValue(text).has_value(), valid);
}

void tst_RelaySettings::shouldAcceptOnlySingleDigitPorts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");
    QTest::newRow("1") << "1" << 1;
    QTest::newRow("9") << "9" << 9;
    QTest::newRow("0") << "0" << 0;
    QTest::newRow("12") << "12" << 0;
    QTest::newRow("letter") << "x" << 0;
    QTest::newRow("empty") << "" << 0;
}

void tst_RelaySettings::shouldAcceptOnlySingleDigitPorts()
{
    QFETCH(QString, text);
    QFETCH(int, port);
    QCOMPARE(int(RelaySettings::portNumber(text).value_or(0)), port);
}

QTEST_GUILESS_MAIN(tst_RelaySettings)
#include "tst_relaysettings.moc"
