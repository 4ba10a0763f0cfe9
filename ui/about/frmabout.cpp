#include "ui/about/frmabout.h"

#include "core/appinfo.h"
#include "platform/desktop/taskbarpresence.h"
#include "ui_frmabout.h"

#include <QKeyEvent>
#include <QLabel>

namespace {

// Where the client area's top-left corner goes, in pixels at 96 dpi: 2340
// and 1935 twips. The window is never centred or placed by the user.
constexpr QPoint clientOrigin(156, 129);

// The rectangles were laid out for a narrower dialog font than most Linux
// desktops have: there the warning wraps to one line more than its label
// holds and its end is cut off. Shrink the label's font in half points
// until the whole text fits, rather than hide part of a warning.
void fitWrappedText(QLabel *label, qreal smallestPointSize = 6)
{
    QFont font = label->font();
    while (label->heightForWidth(label->width()) > label->height() && font.pointSizeF() > smallestPointSize) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
        label->setFont(font);
    }
}

} // namespace

FrmAbout::FrmAbout(const PlatformServices &platform, QWidget *parent)
    : QWidget(parent)
    , m_platform(platform)
    , m_ui(new Ui::FrmAbout)
    , m_sysInfo(platform)
{
    m_ui->setupUi(this);
    // A plain window, not Qt::Dialog or Qt::Tool: X11 window managers keep
    // those above the main window, which must be able to stay in front.
    // Title and close box only; no minimize or maximize.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setGeometry(QRect(clientOrigin, size()));

    connect(m_ui->cmdOK, &QPushButton::clicked, this, &FrmAbout::cmdOK_Click);
    connect(m_ui->cmdSysInfo, &QPushButton::clicked, this, &FrmAbout::cmdSysInfo_Click);
    m_ui->cmdOK->setFocus();

    Form_Load();
}

FrmAbout::~FrmAbout()
{
    delete m_ui;
}

QString FrmAbout::versionText(int major, int minor, int revision)
{
    return QStringLiteral("Version %1.%2.%3").arg(major).arg(minor).arg(revision);
}

void FrmAbout::StartSysInfo()
{
    m_sysInfo.StartSysInfo();
}

bool FrmAbout::GetKeyValue(quint32 KeyRoot, const QString &KeyName, const QString &SubKeyRef, QString &KeyVal)
{
    return m_sysInfo.GetKeyValue(KeyRoot, KeyName, SubKeyRef, KeyVal);
}

void FrmAbout::showEvent(QShowEvent *event)
{
    // Sent before the window is mapped, so the window manager never shows a
    // task bar button for it.
    if (!event->spontaneous()) {
        m_platform.taskbar->skipTaskbar(this);
        // Fonts are final only once the style sheets have polished the labels.
        fitWrappedText(m_ui->lblDescription);
        fitWrappedText(m_ui->lblDisclaimer);
    }
    QWidget::showEvent(event);
}

void FrmAbout::keyPressEvent(QKeyEvent *event)
{
    // OK is both the default and the cancel button. A QWidget has no
    // dialog key handling, so Enter and Esc arrive here unless a focused
    // button took Enter for itself.
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        if (!(event->modifiers() & ~Qt::KeypadModifier)) {
            m_ui->cmdOK->click();
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

void FrmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + AppInfo::title());
    m_ui->lblVersion->setText(versionText(AppInfo::versionMajor, AppInfo::versionMinor, AppInfo::versionRevision));
    m_ui->lblTitle->setText(AppInfo::title());
}

void FrmAbout::cmdOK_Click()
{
    close(); // deletes the window: the next opening loads anew
}

void FrmAbout::cmdSysInfo_Click()
{
    StartSysInfo();
}
