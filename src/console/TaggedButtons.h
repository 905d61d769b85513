#pragma once

#include <QPushButton>
#include <QString>

#include <functional>

// The console's controls are told apart by an integer tag, as its screens describe them; every
// one of them reports to the same handler.
using TapHandler = std::function<void(int tag)>;

// A flat button showing a picture (and an optional title), that reports its tag when clicked.
QPushButton *makeTaggedButton(QWidget *parent,
                              int tag,
                              const TapHandler &handler,
                              const QString &image = {},
                              const QSize &imageSize = {});
