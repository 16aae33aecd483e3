// The program's icon (icon 128: the main window and the About box), drawn
// rather than stored: an alarm bell on a round amber face.
#pragma once

#include <QIcon>

QIcon ServerIcon();
