#pragma once

#include <QColor>
#include <QPushButton>

// A borderless button whose picture fills it behind its title.
class ImageButton : public QPushButton
{
    Q_OBJECT

public:
    ImageButton(const QString &image, const QString &title, QWidget *parent = nullptr);

    void setTitleColor(const QColor &color) { m_titleColor = color; }
    QString imageName() const { return m_image; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_image;
    QColor m_titleColor = Qt::white;
};
