// For scripts/bench-launcher.sh: a Qt application that does nothing but run
// a 20 ms timer, the least any Qt agent polling at 50 Hz can cost. The agent's
// idle CPU is read against it.

#include <QApplication>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QTimer timer;
    timer.setTimerType(Qt::CoarseTimer);
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [] {});
    timer.start();
    return QApplication::exec();
}
