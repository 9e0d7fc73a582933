#include "app/logfile.h"
#include "app/mainwindow.h"
#include "app/quitonsignal.h"

#include <QApplication>
#include <QDir>
#include <QStandardPaths>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QuitOnTerminationSignals();
    LogFile::Start(QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
                       .filePath(QStringLiteral("logs")),
                   LogFile::Header(MainWindow::DataFolder()));
    int result = 0;
    {
        MainWindow window(nullptr);
        window.show();
        result = QApplication::exec();
    }
    LogFile::Stop();
    return result;
}
