#include "ColorWithHex.h"

QColor colorWithHex(const QString &hex, qreal alpha)
{
    QString digits = hex;
    if (digits.startsWith(QLatin1Char('#')))
        digits.remove(0, 1);
    else if (digits.startsWith(QLatin1String("0x")))
        digits.remove(0, 2);

    // Read as one hexadecimal number, up to the first character that is not a digit.
    quint64 value = 0;
    for (const QChar c : digits) {
        const int digit = QStringLiteral("0123456789abcdef").indexOf(c.toLower());
        if (digit < 0)
            break;
        value = (value << 4) | quint64(digit);
    }
    const auto channel = [value](int shift, int bits) {
        const quint64 mask = (1ull << bits) - 1;
        return qreal((value >> shift) & mask) / qreal(mask);
    };
    switch (digits.size()) {
    case 3:
        return QColor::fromRgbF(channel(8, 4), channel(4, 4), channel(0, 4), alpha);
    case 4:
        return QColor::fromRgbF(channel(12, 4), channel(8, 4), channel(4, 4), channel(0, 4));
    case 6:
        return QColor::fromRgbF(channel(16, 8), channel(8, 8), channel(0, 8), alpha);
    case 8:
        return QColor::fromRgbF(channel(24, 8), channel(16, 8), channel(8, 8), channel(0, 8));
    default:
        return QColor::fromRgbF(0, 0, 0, alpha);
    }
}
