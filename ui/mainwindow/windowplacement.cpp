#include "ui/mainwindow/windowplacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace WindowPlacement {

namespace {

// The outer position of a window, also while it is minimized or maximized:
// the platform reports the maximized frame then, but the user's place for
// the window is its normal one.
QPoint framePosition(const QWidget &window)
{
    if (window.isMaximized() || window.isMinimized() || window.isFullScreen()) {
        const QPoint frameOffset = window.geometry().topLeft() - window.frameGeometry().topLeft();
        return window.normalGeometry().topLeft() - frameOffset;
    }
    return window.frameGeometry().topLeft();
}

int toPixels(float twips)
{
    const double pixels = std::nearbyint(double(twips) / twipsPerPixel);
    // Clamp far outside any screen rather than overflow.
    return int(std::clamp(pixels, -1.0e6, 1.0e6));
}

bool onSomeScreen(const QRect &frame)
{
    const auto screens = QGuiApplication::screens();
    return std::any_of(screens.begin(), screens.end(),
                       [&](const QScreen *screen) { return screen->geometry().intersects(frame); });
}

} // namespace

float leftTwips(const QWidget &window)
{
    return float(framePosition(window).x() * twipsPerPixel);
}

float topTwips(const QWidget &window)
{
    return float(framePosition(window).y() * twipsPerPixel);
}

void moveToTwips(QWidget &window, float left, float top)
{
    QPoint position(toPixels(left), toPixels(top));
    const QRect frame(position, window.frameGeometry().size());
    if (!onSomeScreen(frame)) {
        if (const QScreen *primary = QGuiApplication::primaryScreen()) {
            QRect placed = frame;
            placed.moveCenter(primary->availableGeometry().center());
            position = placed.topLeft();
        }
    }
    window.move(position);
}

} // namespace WindowPlacement
