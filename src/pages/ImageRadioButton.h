#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QRadioButton;

// One node of the node page: a radio circle (a padlock when the node is locked), the node's
// flag and its name. A tap, or Space or Enter while it has the keyboard focus, selects it unless
// it is locked or already selected; either way the page hears of it. The arrow keys move the
// focus to the nearest node in their direction. Screen readers see one radio button named after
// the node, checked when selected and unavailable when locked.
class ImageRadioButton : public QWidget
{
    Q_OBJECT

public:
    enum class State { selected, unselected, locked };

    explicit ImageRadioButton(QWidget *parent = nullptr);

    void configure(const QRect &frame, const QString &title, const QString &flagImage);
    void setTitle(const QString &title);
    void setFlagImage(const QString &flagImage);
    void setItemState(State state);
    void onTapButtonWithSender();

    bool isChecked() const { return m_isChecked; }
    bool isLocked() const { return m_isLocked; }
    QString title() const;
    QString flagImage() const { return m_flagImage; }
    QRadioButton *radiobtn() const { return m_radiobtn; }
    QLabel *titleLabel() const { return m_titleLabel; }

    std::function<void(ImageRadioButton *item, bool isLocked)> nodeTapBlock;

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // The nearest visible node beside this one, in the direction of an arrow key.
    ImageRadioButton *neighbour(Qt::Key arrow) const;

    bool m_isChecked = false;
    bool m_isLocked = false;
    QString m_flagImage;
    QRadioButton *m_radiobtn = nullptr;
    QLabel *m_lock = nullptr;
    QLabel *m_titleLabel = nullptr;
    QLabel *m_flagImgView = nullptr;
};
