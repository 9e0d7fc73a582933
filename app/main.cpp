#include "app/mainwindow.h"
#include "app/quitonsignal.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QuitOnTerminationSignals();
    int result = 0;
    {
        MainWindow window(nullptr);
        window.show();
        result = QApplication::exec();
    }
    return result;
}
