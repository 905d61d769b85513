// The start-up and memory baseline: the least a Qt Widgets program can show of the client's
// window, one 920 x 580 frameless window with one Chinese label, so that both pay for the CJK
// font. It reports its first paint the same way the client does.

#include "shell/StartupTrace.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Minimal"));
    window.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    window.setFixedSize(920, 580);
    auto *label = new QLabel(QStringLiteral("网络加速"), &window);
    label->move(40, 40);
    window.show();
    StartupTrace::watch(&window);
    return application.exec();
}
