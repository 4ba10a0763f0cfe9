#include "app/relay/zelvofootswitch2.h"

#include "app/relay/relaysettings.h"
#include "platform/settingsstore.h"
#include "platform/windowstacking.h"
#include "ui_zelvofootswitch2.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

namespace {

// A coloured face that still looks like a button on the Fusion style.
void paintMarker(QPushButton *marker, const QColor &face)
{
    QPalette palette = marker->palette();
    palette.setColor(QPalette::Button, face);
    palette.setColor(QPalette::ButtonText, Qt::black);
    marker->setPalette(palette);
}

} // namespace

ZelvoFootswitch2::ZelvoFootswitch2(const PlatformServices &platform, QWidget *parent)
    : QMainWindow(parent)
    , MSComm1(*platform.ports)
    , MSComm2(*platform.ports)
    , m_platform(platform)
    , m_ui(new Ui::ZelvoFootswitch2)
    , m_activation(*this)
    , m_relay(*this)
{
    m_ui->setupUi(this);
    // The rectangles are laid out for an 8-point dialog font; the platform's
    // family at that size keeps every caption inside its rectangle.
    QFont dialogFont = font();
    dialogFont.setPointSizeF(8);
    setFont(dialogFont);
    paintMarker(m_ui->Command1, QColor(0, 192, 0));
    paintMarker(m_ui->Command2, QColor(192, 64, 0));
    // Only an item chosen from the list is a port choice; typed text is
    // neither completed nor added to the list.
    for (QComboBox *combo : {m_ui->ComboComIn, m_ui->ComboComOut})
        combo->setCompleter(nullptr);

    // The first showing, before a position is stored: centred on the screen.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect placed = geometry();
        placed.moveCenter(screen->availableGeometry().center());
        move(placed.topLeft());
    }

    connect(m_ui->chkOnTop, &QCheckBox::stateChanged, this, &ZelvoFootswitch2::chkOnTop_Click);
    m_relay.connectControls();
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, &ZelvoFootswitch2::focusWindowChanged);

    // Precise: the default coarse timer may fire up to 5 % late.
    Timer1.setTimerType(Qt::PreciseTimer);
    Timer1.setInterval(100);
    Timer1.start();
}

ZelvoFootswitch2::~ZelvoFootswitch2()
{
    Timer1.stop();
    delete m_ui;
}

void ZelvoFootswitch2::SetAlwaysOnTop(QWidget *window, bool onTop)
{
    m_platform.stacking->setAlwaysOnTop(window, onTop);
}

void ZelvoFootswitch2::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Showing the window activates it: runs before the window is mapped, so
    // the stored position and stacking apply from its first appearance.
    if (!m_firstShowDone) {
        m_firstShowDone = true;
        m_activation.run();
    }
}

void ZelvoFootswitch2::focusWindowChanged(QWindow *focus)
{
    if (!focus)
        return; // another application: the last window of ours is still the one that counts
    if (focus == windowHandle()) {
        if (m_activateOnReturn && m_firstShowDone) {
            m_activateOnReturn = false;
            m_activation.run();
        }
        return;
    }
    // Only a return from the About window activates: Qt also activates this
    // window after one of its own message boxes, and an activation that
    // shows a message on every return would never end.
    m_activateOnReturn = m_about && focus == m_about->windowHandle();
}

void ZelvoFootswitch2::chkOnTop_Click()
{
    // A value of 2 (greyed, from a stored "2") counts as not on top.
    SetAlwaysOnTop(this, m_ui->chkOnTop->value() == 1);
    m_platform.settings->save(RelaySettings::onTop, QString::number(m_ui->chkOnTop->value()));
}
