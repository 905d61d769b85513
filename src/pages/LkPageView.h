#pragma once

#include <QLabel>
#include <QWidget>

class PageHost;

// The base of the console's pages: a 48-point tool bar across the top (#F6F6F6) with a blue
// accent mark and the page's title, which subclasses set.
class LkPageView : public QWidget
{
    Q_OBJECT

public:
    explicit LkPageView(QWidget *parent = nullptr);

    void setSuperVC(PageHost *host) { m_superVC = host; }
    PageHost *superVC() const { return m_superVC; }

    // Builds the page once, after the host has set itself; subclasses build on it.
    virtual void buildPage();

    QWidget *toolView();
    QLabel *toolbarTitleLabel();

private:
    PageHost *m_superVC = nullptr;
    QWidget *m_toolView = nullptr;
    QLabel *m_toolbarTitleLabel = nullptr;
};
