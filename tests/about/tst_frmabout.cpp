#include "ui/about/frmabout.h"
#include "core/appinfo.h"
#include "support/fakeplatform.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QPointer>
#include <QTest>

namespace {

const QByteArray pathKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";

// The version of this build, as the project declares it.
QString buildVersion()
{
    return QStringLiteral("Version %1.%2.%3").arg(ZELVO_VERSION_MAJOR).arg(ZELVO_VERSION_MINOR).arg(ZELVO_VERSION_PATCH);
}

// Opens the window as Help > About does: no parent, shown modeless.
QPointer<FrmAbout> openAbout(FakePlatform &platform)
{
    QPointer<FrmAbout> about = new FrmAbout(platform.services());
    about->show();
    about->activateWindow();
    if (!QTest::qWaitForWindowActive(about))
        qWarning("About window did not become active");
    return about;
}

// Controls by their object names, as the form names them.
QLabel *label(QWidget *window, const char *name)
{
    return window->findChild<QLabel *>(QLatin1String(name));
}

QPushButton *button(QWidget *window, const char *name)
{
    return window->findChild<QPushButton *>(QLatin1String(name));
}

} // namespace

class TestFrmAbout : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void shouldShowTitleAndVersionOfThisBuildAfterLoad();
    void shouldShowWholeWarningWithinItsRectangle();
    void shouldShowVersionWithoutPadding_data();
    void shouldShowVersionWithoutPadding();
    void shouldCloseOnEnterAndEsc_data();
    void shouldCloseOnEnterAndEsc();
    void shouldCloseOnOkAndCloseBox_data();
    void shouldCloseOnOkAndCloseBox();
    void shouldRunLoadStepsAgainWhenReopened();
    void shouldStartSysInfoAndStayOpen_data();
    void shouldStartSysInfoAndStayOpen();
    void shouldShowMessageAndStayOpenWithoutTool();
    void shouldBePlainFixedWindowAtItsPlace();
    void shouldCarryNoIconOfItsOwn();
    void shouldStayOutOfTaskbarFromFirstShowing();
};

void TestFrmAbout::cleanup()
{
    for (QWidget *window : QApplication::topLevelWidgets())
        delete window;
}

void TestFrmAbout::shouldShowTitleAndVersionOfThisBuildAfterLoad()
{
    FakePlatform platform;
    FrmAbout about(platform.services());

    QCOMPARE(about.windowTitle(), QStringLiteral("About ") + AppInfo::title());
    QCOMPARE(label(&about, "lblVersion")->text(), buildVersion());
    QCOMPARE(label(&about, "lblTitle")->text(), AppInfo::title());
}

void TestFrmAbout::shouldShowWholeWarningWithinItsRectangle()
{
    FakePlatform platform;
    QPointer<FrmAbout> about = openAbout(platform);

    for (const char *name : {"lblDescription", "lblDisclaimer"}) {
        QLabel *wrapped = label(about, name);
        QVERIFY2(wrapped->heightForWidth(wrapped->width()) <= wrapped->height(), name);
        QVERIFY2(about->rect().contains(wrapped->geometry()), name);
    }
}

void TestFrmAbout::shouldShowVersionWithoutPadding_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("revision");
    QTest::addColumn<QString>("expected");

    QTest::newRow("this release") << 1 << 0 << 0 << "Version 1.0.0";
    QTest::newRow("two-digit revision") << 1 << 0 << 12 << "Version 1.0.12";
    QTest::newRow("two-digit minor") << 1 << 10 << 0 << "Version 1.10.0";
    QTest::newRow("large numbers") << 10 << 200 << 3000 << "Version 10.200.3000";
}

void TestFrmAbout::shouldShowVersionWithoutPadding()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, revision);
    QFETCH(QString, expected);

    QCOMPARE(FrmAbout::versionText(major, minor, revision), expected);
}

void TestFrmAbout::shouldCloseOnEnterAndEsc_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<bool>("focusOnIcon");

    QTest::newRow("Enter on OK") << int(Qt::Key_Return) << Qt::KeyboardModifiers() << false;
    QTest::newRow("keypad Enter on OK") << int(Qt::Key_Enter) << Qt::KeyboardModifiers(Qt::KeypadModifier) << false;
    QTest::newRow("Esc on OK") << int(Qt::Key_Escape) << Qt::KeyboardModifiers() << false;
    QTest::newRow("Enter on the icon") << int(Qt::Key_Return) << Qt::KeyboardModifiers() << true;
    QTest::newRow("Esc on the icon") << int(Qt::Key_Escape) << Qt::KeyboardModifiers() << true;
}

void TestFrmAbout::shouldCloseOnEnterAndEsc()
{
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(bool, focusOnIcon);
    FakePlatform platform;
    QPointer<FrmAbout> about = openAbout(platform);
    if (focusOnIcon)
        label(about, "picIcon")->setFocus();

    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);

    QTRY_VERIFY(about.isNull());
    QVERIFY(platform.launcher.launched.isEmpty());
}

void TestFrmAbout::shouldCloseOnOkAndCloseBox_data()
{
    QTest::addColumn<bool>("closeBox");

    QTest::newRow("OK") << false;
    QTest::newRow("close box") << true;
}

void TestFrmAbout::shouldCloseOnOkAndCloseBox()
{
    QFETCH(bool, closeBox);
    FakePlatform platform;
    QPointer<FrmAbout> about = openAbout(platform);

    if (closeBox)
        about->close();
    else
        QTest::mouseClick(button(about, "cmdOK"), Qt::LeftButton);

    QTRY_VERIFY(about.isNull());
}

void TestFrmAbout::shouldRunLoadStepsAgainWhenReopened()
{
    FakePlatform platform;
    QPointer<FrmAbout> first = openAbout(platform);
    label(first, "lblVersion")->setText(QStringLiteral("stale"));
    first->setWindowTitle(QStringLiteral("stale"));
    button(first, "cmdOK")->click();
    QTRY_VERIFY(first.isNull());

    QPointer<FrmAbout> second = openAbout(platform);

    QCOMPARE(second->windowTitle(), QStringLiteral("About ") + AppInfo::title());
    QCOMPARE(label(second, "lblVersion")->text(), buildVersion());
}

void TestFrmAbout::shouldStartSysInfoAndStayOpen_data()
{
    QTest::addColumn<QString>("how");

    QTest::newRow("click") << "click";
    QTest::newRow("Alt+S") << "alt";
    QTest::newRow("Enter on focused System Info") << "enter";
}

void TestFrmAbout::shouldStartSysInfoAndStayOpen()
{
    QFETCH(QString, how);
    FakePlatform platform;
    platform.registry.setText(pathKey, "PATH", QStringLiteral("C:\\Program Files\\msinfo32.exe"));
    QPointer<FrmAbout> about = openAbout(platform);

    for (int run = 0; run < 2; ++run) {
        if (how == QLatin1String("click")) {
            QTest::mouseClick(button(about, "cmdSysInfo"), Qt::LeftButton);
        } else if (how == QLatin1String("alt")) {
            QTest::keyClick(about->windowHandle(), Qt::Key_S, Qt::AltModifier);
        } else {
            button(about, "cmdSysInfo")->setFocus();
            QTest::keyClick(button(about, "cmdSysInfo"), Qt::Key_Return);
        }
        // An access key presses the button visibly: the click follows a
        // moment later.
        QTRY_COMPARE(platform.launcher.launched.size(), run + 1);
    }

    // Nothing keeps a second copy of the tool from starting.
    QCOMPARE(platform.launcher.launched,
             QStringList(2, QStringLiteral("C:\\Program Files\\msinfo32.exe")));
    QTest::qWait(0);
    QVERIFY(!about.isNull());
    QVERIFY(about->isVisible());
}

void TestFrmAbout::shouldShowMessageAndStayOpenWithoutTool()
{
    FakePlatform platform;
    QPointer<FrmAbout> about = openAbout(platform);

    button(about, "cmdSysInfo")->click();

    QCOMPARE(platform.messages.shown, QStringList{QStringLiteral("System Information Is Unavailable At This Time")});
    QTest::qWait(0);
    QVERIFY(!about.isNull());
    QVERIFY(about->isVisible());
}

void TestFrmAbout::shouldBePlainFixedWindowAtItsPlace()
{
    FakePlatform platform;
    QPointer<FrmAbout> about = openAbout(platform);

    // Qt::Dialog and Qt::Tool windows stay above the main window on X11.
    QCOMPARE(about->windowType(), Qt::Window);
    QVERIFY(!about->parentWidget());
    QVERIFY(!(about->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(about->windowFlags() & Qt::WindowCloseButtonHint);
    // The user cannot resize it.
    QCOMPARE(about->minimumSize(), about->maximumSize());
    QCOMPARE(about->geometry().topLeft(), QPoint(156, 129));
}

void TestFrmAbout::shouldCarryNoIconOfItsOwn()
{
    FakePlatform platform;
    QPointer<FrmAbout> about = openAbout(platform);

    QVERIFY(!about->testAttribute(Qt::WA_SetWindowIcon));
    QVERIFY(about->windowIcon().isNull());
    QVERIFY(about->windowHandle()->icon().isNull());
}

void TestFrmAbout::shouldStayOutOfTaskbarFromFirstShowing()
{
    FakePlatform platform;
    QPointer<FrmAbout> about = openAbout(platform);

    QCOMPARE(platform.taskbar.skipped.size(), 1);
    QCOMPARE(platform.taskbar.skipped.first(), QPointer<QWidget>(about.data()));
    QCOMPARE(platform.taskbar.mappedWhenAsked, QList<bool>{false});
}

QTEST_MAIN(TestFrmAbout)
#include "tst_frmabout.moc"
