// Always-on-top through the window manager: runs inside a private X server
// with a window manager (see tests/with-xserver.sh).
#include "platform/desktop/nativewindowstacking.h"
#include "support/mainwindowrig.h"
#include "support/x11properties.h"

#include <QTest>
#include <QWindow>

namespace {

using namespace X11;

bool isAbove(QWidget &window)
{
    return windowProperty(xcb_window_t(window.winId()), "_NET_WM_STATE").contains(atom("_NET_WM_STATE_ABOVE"));
}

// Counts the activations the window receives.
class ActivationCounter : public QObject
{
public:
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::WindowActivate)
            ++count;
        return false;
    }
};

} // namespace

class tst_StackingX11 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void shouldBeTopmostFromFirstShowingWhenStoredOnTop();
    void shouldSetAndClearTopmostWithoutMovingOrActivating();
    void shouldKeepTopmostMainWindowInFrontOfAboutWindow();

private:
    std::unique_ptr<MainWindowRig> startRig(const QString &onTop);

    NativeWindowStacking m_stacking;
};

void tst_StackingX11::initTestCase()
{
    if (!qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
        QSKIP("needs an X server: run through tests/with-xserver.sh");
}

std::unique_ptr<MainWindowRig> tst_StackingX11::startRig(const QString &onTop)
{
    auto rig = std::make_unique<MainWindowRig>();
    rig->storeWorkingPorts();
    rig->platform.settings.values.insert(QStringLiteral("OnTop"), onTop);
    rig->platform.settings.values.insert(QStringLiteral("Position-Left"), QStringLiteral("3000"));
    rig->platform.settings.values.insert(QStringLiteral("Position-Top"), QStringLiteral("1500"));
    PlatformServices services = rig->platform.services();
    services.stacking = &m_stacking;
    rig->window = std::make_unique<ZelvoFootswitch2>(services, rig->engine);
    rig->window->Timer1.stop();
    rig->window->show();
    if (!QTest::qWaitForWindowExposed(rig->window.get()))
        return nullptr;
    return rig;
}

void tst_StackingX11::shouldBeTopmostFromFirstShowingWhenStoredOnTop()
{
    auto rig = startRig(QStringLiteral("1"));
    QVERIFY(rig);
    QTRY_VERIFY(isAbove(*rig->window));
    // The frame lands where the store says, not a title bar lower.
    QTRY_COMPARE(rig->window->frameGeometry().topLeft(), QPoint(200, 100));
}

void tst_StackingX11::shouldSetAndClearTopmostWithoutMovingOrActivating()
{
    auto rig = startRig(QStringLiteral("0"));
    QVERIFY(rig);
    ZelvoFootswitch2 &window = *rig->window;
    QTRY_VERIFY(window.isActiveWindow());
    QVERIFY(!isAbove(window));
    const QRect frame = window.frameGeometry();
    ActivationCounter activations;
    window.installEventFilter(&activations);

    rig->form().chkOnTop->click();
    QTRY_VERIFY(isAbove(window));
    rig->form().chkOnTop->click();
    QTRY_VERIFY(!isAbove(window));

    // Let any late window-manager reaction arrive before judging.
    QTest::qWait(200);
    QCOMPARE(window.frameGeometry(), frame);
    QCOMPARE(activations.count, 0);
    QCOMPARE(rig->platform.settings.values.value(QStringLiteral("OnTop")), QStringLiteral("0"));
}

void tst_StackingX11::shouldKeepTopmostMainWindowInFrontOfAboutWindow()
{
    auto rig = startRig(QStringLiteral("1"));
    QVERIFY(rig);
    ZelvoFootswitch2 &window = *rig->window;
    QTRY_VERIFY(isAbove(window));
    rig->form().mnuAbout->trigger();
    QWidget *about = window.aboutWindow();
    QVERIFY(about);
    QVERIFY(QTest::qWaitForWindowExposed(about));
    about->activateWindow();
    QTRY_VERIFY(about->isActiveWindow());

    // Bottom to top, as the window manager stacks them.
    const auto mainId = quint32(window.winId());
    const auto aboutId = quint32(about->winId());
    QTRY_VERIFY(windowProperty(rootWindow(), "_NET_CLIENT_LIST_STACKING").contains(aboutId));
    const QList<quint32> stacking = windowProperty(rootWindow(), "_NET_CLIENT_LIST_STACKING");
    QVERIFY2(stacking.indexOf(mainId) > stacking.indexOf(aboutId), "the About window covers the main window");
}

QTEST_MAIN(tst_StackingX11)
#include "tst_stacking_x11.moc"
