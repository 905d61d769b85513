#include "OnlyIntegerValueFormatter.h"

#include <QRegularExpression>

OnlyIntegerValueFormatter::OnlyIntegerValueFormatter(QObject *parent)
    : QValidator(parent)
{ }

QValidator::State OnlyIntegerValueFormatter::validate(QString &input, int &) const
{
    if (input.isEmpty())
        return Acceptable;
    static const QRegularExpression integer(QStringLiteral("^\\s*[+-]?\\d+\\s*$"));
    return integer.match(input).hasMatch() ? Acceptable : Invalid;
}
