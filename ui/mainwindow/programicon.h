#pragma once

#include <QIcon>
#include <QImage>

// The program icon: two analogue meter faces, an S-meter above an SWR meter,
// drawn from the SVG in the program's resources. Set on the main window; the
// desktop menu takes the installed copies instead.

// The icon at every size a window manager or task bar may ask for.
QIcon programIcon();

// The icon on a transparent square of the given size in pixels, the
// slightly taller than wide picture centred in it. A null image if the
// drawing could not be read.
QImage programIconImage(int size);
