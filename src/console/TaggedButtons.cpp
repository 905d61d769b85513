#include "TaggedButtons.h"

#include "pages/ImageLibrary.h"

QPushButton *makeTaggedButton(QWidget *parent,
                              int tag,
                              const TapHandler &handler,
                              const QString &image,
                              const QSize &imageSize)
{
    auto *button = new QPushButton(parent);
    button->setFlat(true);
    button->setFocusPolicy(Qt::TabFocus); // the keyboard reaches it; a click leaves the focus
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; }"));
    button->setProperty("tag", tag);
    if (!image.isEmpty()) {
        button->setIcon(ImageLibrary::icon(image, imageSize));
        button->setIconSize(imageSize.isEmpty()
                                ? ImageLibrary::pixmap(image).deviceIndependentSize().toSize()
                                : imageSize);
    }
    QObject::connect(button, &QPushButton::clicked, button, [handler, tag] { handler(tag); });
    return button;
}
