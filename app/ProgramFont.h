#pragma once

#include <QFont>

// The program's typeface: Verdana where the machine has it, else the sans-serif fallback;
// sizes in pixels.
QFont programFont(int pixels = 11, bool bold = false, bool italic = false);
