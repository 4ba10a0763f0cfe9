// The About window on a real X server with a window manager: what only the
// X11 side shows (task bar state, owner, icon, place). Its stacking under an
// always-on-top main window is in tests/relay/tst_stacking_x11.cpp.
#include "ui/about/frmabout.h"
#include "platform/desktop/nativetaskbarpresence.h"
#include "support/fakeplatform.h"
#include "support/x11properties.h"

#include <QGuiApplication>
#include <QPointer>
#include <QTest>

namespace {

using namespace X11;

QPoint clientOriginOnScreen(xcb_window_t window)
{
    xcb_translate_coordinates_reply_t *reply = xcb_translate_coordinates_reply(
        connection(), xcb_translate_coordinates(connection(), window, rootWindow(), 0, 0), nullptr);
    const QPoint origin = reply ? QPoint(reply->dst_x, reply->dst_y) : QPoint(-1, -1);
    free(reply);
    return origin;
}

} // namespace

class TestFrmAboutX11 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void shouldGiveWindowNoIconOfItsOwn();
    void shouldStayOutOfTaskbarWithoutOwner();
    void shouldPlaceClientAreaAtFixedSpotWithFixedSize();

private:
    QPointer<FrmAbout> open();

    FakePlatform m_fakes;
    NativeTaskbarPresence m_taskbar;
};

void TestFrmAboutX11::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server");
}

QPointer<FrmAbout> TestFrmAboutX11::open()
{
    PlatformServices services = m_fakes.services();
    services.taskbar = &m_taskbar;
    QPointer<FrmAbout> about = new FrmAbout(services);
    about->show();
    if (!QTest::qWaitForWindowExposed(about))
        qWarning("About window not exposed");
    return about;
}

void TestFrmAboutX11::shouldGiveWindowNoIconOfItsOwn()
{
    PlatformServices services = m_fakes.services();
    services.taskbar = &m_taskbar;
    FrmAbout about(services);

    // Qt writes the icon when it creates the native window. Once mapped,
    // the window manager may put a default icon of its own there.
    const auto window = xcb_window_t(about.winId());
    QVERIFY(windowProperty(window, "_NET_WM_ICON").isEmpty());
}

void TestFrmAboutX11::shouldStayOutOfTaskbarWithoutOwner()
{
    QPointer<FrmAbout> about = open();
    const auto window = xcb_window_t(about->winId());

    QTRY_VERIFY(windowProperty(window, "_NET_WM_STATE").contains(atom("_NET_WM_STATE_SKIP_TASKBAR")));
    QVERIFY(windowProperty(window, "WM_TRANSIENT_FOR").isEmpty());
    QCOMPARE(windowProperty(window, "_NET_WM_WINDOW_TYPE"), QList<quint32>{atom("_NET_WM_WINDOW_TYPE_NORMAL")});
    delete about;
}

void TestFrmAboutX11::shouldPlaceClientAreaAtFixedSpotWithFixedSize()
{
    QPointer<FrmAbout> about = open();
    const auto window = xcb_window_t(about->winId());

    QTRY_COMPARE(clientOriginOnScreen(window), QPoint(156, 129));
    // WM_NORMAL_HINTS: minimum size at 5 and 6, maximum size at 7 and 8.
    const QList<quint32> hints = windowProperty(window, "WM_NORMAL_HINTS");
    QVERIFY(hints.size() >= 9);
    // The window manager offers no resizing: both are the window's size.
    QCOMPARE(QSize(int(hints[5]), int(hints[6])), about->size());
    QCOMPARE(QSize(int(hints[7]), int(hints[8])), about->size());
    delete about;
}

QTEST_MAIN(TestFrmAboutX11)
#include "tst_frmabout_x11.moc"
