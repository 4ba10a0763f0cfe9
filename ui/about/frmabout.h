#pragma once

#include "ui/about/sysinfolauncher.h"
#include "ui/platformservices.h"

#include <QWidget>

QT_BEGIN_NAMESPACE
namespace Ui {
class FrmAbout;
}
QT_END_NAMESPACE

// The About window: title, version, description and the equipment warning,
// with OK and System Info. A plain top-level window of fixed size at a
// fixed place, out of the task bar; it deletes itself when closed, so each
// opening is a new window. Create it with no parent and show() it.
class FrmAbout : public QWidget
{
    Q_OBJECT

public:
    explicit FrmAbout(const PlatformServices &platform, QWidget *parent = nullptr);
    ~FrmAbout() override;

    // "Version 1.0.0": decimal numbers, never padded.
    static QString versionText(int major, int minor, int revision);

    void StartSysInfo();
    bool GetKeyValue(quint32 KeyRoot, const QString &KeyName, const QString &SubKeyRef, QString &KeyVal);

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();

    PlatformServices m_platform;
    Ui::FrmAbout *m_ui = nullptr;
    SysInfoLauncher m_sysInfo;
};
