#pragma once

#include <QColor>
#include <QString>

// The one conversion of the colour texts the client's views use ("#3F3934", "0xCADEFA"): after a
// leading "#" or "0x", 3 digits are RGB and 4 RGBA at one digit each, 6 are RGB and 8 RGBA at
// two digits each; anything else is black. Digits that carry no alpha take the given one.
QColor colorWithHex(const QString &hex, qreal alpha = 1.0);
