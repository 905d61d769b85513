#pragma once

#include "ConsoleTags.h"
#include "TaggedButtons.h"

#include <QWidget>

class QLabel;
class QToolButton;

// The console's page container: a 128-point header with the toolbar and its selection marker,
// and the place under it where the pages go.
class ConsolePageContainer : public QWidget
{
    Q_OBJECT

public:
    static constexpr int topbarHeight = 128;
    static constexpr int slotCount = 5;

    ConsolePageContainer(TapHandler tap, QWidget *parent = nullptr);

    void build();

    QLabel *marker();
    // The toolbar button with a tag from ConsoleTag::toolbarHome to ConsoleTag::toolbarUser.
    QToolButton *toolbarButton(int tag);
    // Where a page of the container lies.
    QRect pageFrame() const;

    // Moves the marker to the slot of an index (index 1 lies on slot 2) and resets the fonts of
    // the route, import, add and user buttons.
    void moveMarker(int index);
    void setBoldTitle(int tag);

private:
    TapHandler m_tap;
    QLabel *m_marker = nullptr;
    QToolButton *m_buttons[5] = {};
};
