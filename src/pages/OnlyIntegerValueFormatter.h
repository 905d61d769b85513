#pragma once

#include <QValidator>

// Lets a field hold only an integer while it is typed: empty, or an optional sign and digits
// with white space around them. A lone sign, a decimal point or a letter is refused.
class OnlyIntegerValueFormatter : public QValidator
{
    Q_OBJECT

public:
    explicit OnlyIntegerValueFormatter(QObject *parent = nullptr);

    State validate(QString &input, int &position) const override;
};
