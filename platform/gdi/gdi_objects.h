// What the other platform modules may learn about GDI objects made here.
#pragma once

#include <QColor>
#include <QFont>

#include "platform/win32/wintypes.h"

namespace platform::gdi {

// The colour of a brush from GetStockObject; false for anything else
// (including NULL_BRUSH, which paints nothing).
bool brushColour(HBRUSH brush, QColor* colour);

// The Qt font behind a font from CreateFontA or GetStockObject; false for an
// unknown handle or when the GUI library is not up.
bool fontFor(HFONT font, QFont* qtFont);

}  // namespace platform::gdi
