// Build tool: writes the program icon as PNG files for the desktop's icon
// theme, drawn by the same code that draws the window icon, so the two
// cannot drift apart.
// Usage: zelvo-render-icon OUTPUT-DIR SIZE...
// writes OUTPUT-DIR/<size>x<size>/apps/zelvo-footswitch2.png.

#include "ui/mainwindow/programicon.h"

#include <QDir>
#include <QGuiApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    // Text on the meter scales needs the font database, hence a GUI
    // application; the build sets an off-screen platform for it.
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    QTextStream errors(stderr);
    if (arguments.size() < 3) {
        errors << "usage: zelvo-render-icon OUTPUT-DIR SIZE...\n";
        return 2;
    }
    const QDir output(arguments.at(1));
    for (const QString &argument : arguments.mid(2)) {
        bool ok = false;
        const int size = argument.toInt(&ok);
        const QImage image = ok ? programIconImage(size) : QImage();
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString file = output.filePath(folder + QStringLiteral("/zelvo-footswitch2.png"));
        if (image.isNull() || !output.mkpath(folder) || !image.save(file, "PNG")) {
            errors << "zelvo-render-icon: cannot write the icon at size " << argument << '\n';
            return 1;
        }
    }
    return 0;
}
