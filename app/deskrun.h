#pragma once

#include "app/commandline.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <memory>
#include <vector>

// Several devices at once (--all, or --port given several times), as a
// service desk updates a hub full of them: this same program is run once per
// device, all at the same time, each child with its own port, data folder,
// lock and log. Their JSON events are passed on with the port they belong to
// (as JSON, or as text lines prefixed with the port's name, never mixed
// mid-line), and one summary ends the run, with the command that retries the
// devices that failed. One device's failure never stops the others.
class DeskRun : public QObject {
    Q_OBJECT
public:
    // arguments: the program's own, to build the retry command from.
    DeskRun(const CommandLine::Options& options, const QStringList& arguments);
    ~DeskRun() override;

    // Starts a child run per device: -1 while they run (the event loop ends
    // with the exit code), or the exit code at once when there is no device.
    int Start();
    bool ended() const { return finished; }
    // Stops every child (a termination signal) and sums up; the exit code.
    int Interrupted();

    // The data folder of a device's run below the desk's folder, named by its port.
    static QString ChildFolder(const QString& base, const QString& port);

private:
    struct Child {
        QString port;
        // The USB serial number of the device behind the port, where it has one.
        QString serial;
        QString name;
        std::unique_ptr<QProcess> process;
        QByteArray out;
        QByteArray err;
        QElapsedTimer clock;
        // How long the device's run took, once it ended.
        qint64 elapsedMs = -1;
        QString deviceNumber;
        // The device was first found in its boot loader: it had no version before.
        bool identified = false;
        bool bootLoaderBefore = false;
        QString before;
        QString after;
        QString result;
        QString error;
        QString log;
        // Whether the history had no update of the device before this desk.
        QVariant firstUpdate;
        int code = -1;
        bool done = false;
        // How long the device's run took: until it ended, or until now.
        double seconds() const {
            return double(elapsedMs >= 0 ? elapsedMs : clock.elapsed()) / 1000.0;
        }
    };

    void startChild(Child& child);
    void onOutput(Child& child);
    void onErrorOutput(Child& child);
    void onFinished(Child& child, int code);
    void onEvent(Child& child, QVariantMap event);
    void summarise();
    QString retryCommand() const;
    void say(FILE* stream, const QString& line);

    CommandLine::Options options;
    QStringList arguments;
    // Text mode's lines, each child's counts held back as a single run's are.
    CountedLines lines;
    QString base;
    std::vector<std::unique_ptr<Child>> children;
    bool finished = false;
    int exitCode = 0;
    // When the desk began: the history's records before it are the devices' past.
    QDateTime began;
};
