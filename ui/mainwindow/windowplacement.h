#pragma once

class QWidget;

// The main window's position on the screen in twips, as the settings store
// keeps it: the outer (frame) left and top, 15 twips to a pixel at 96 dpi.
namespace WindowPlacement {

constexpr int twipsPerPixel = 15;

float leftTwips(const QWidget &window);
float topTwips(const QWidget &window);

// Moves the window's frame to the given position. A position that would put
// the window entirely off every screen (a monitor removed since) places it
// on the primary screen instead.
void moveToTwips(QWidget &window, float left, float top);

} // namespace WindowPlacement
