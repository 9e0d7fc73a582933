#include "app/logfile.h"
#include "app/logging.h"
#include "app/mainwindow.h"
#include "app/state/appfolder.h"
#include "app/toolkit.h"
#include "pages/initpage.h"
#include "pages/nodevice.h"

#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QMovie>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/file.h>
#include <unistd.h>

namespace {
void press(QWidget* target, QPoint global) {
    QMouseEvent event(QEvent::MouseButtonPress, target->mapFromGlobal(global), global,
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}
void moveTo(QWidget* target, QPoint global, Qt::MouseButton held = Qt::LeftButton) {
    QMouseEvent event(QEvent::MouseMove, target->mapFromGlobal(global), global, Qt::NoButton, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}
QLabel* statusOf(QWidget* page) {
    return page->findChild<QLabel*>("statusMsg");
}
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void init() {
        Globals::NoDeviceMessage = Globals::PlugInMessage;
        window = new MainWindow();
        window->StopPortThreads();
    }
    void cleanup() {
        delete window;
        window = nullptr;
    }

    void windowShell() {
        QCOMPARE(window->windowTitle(), QStringLiteral("Tembra Update Tool V1.3.0"));
        QCOMPARE(window->size(), QSize(539, 203));
        QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(window->styleSheet(), QStringLiteral("border:none;\nbackground:none;"));
        const Qt::WindowFlags expected = Qt::Window | Qt::WindowMinimizeButtonHint |
                                         Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint;
        QCOMPARE(window->windowFlags() & expected, expected);
        QVERIFY(!window->windowIcon().isNull());
        QCOMPARE(Globals::MainWin, window);
        QCOMPARE(Globals::PortName.get(), QStringLiteral("NoDevice"));
        QCOMPARE(Globals::AppPath, QCoreApplication::applicationDirPath());
    }

    // Settings and firmware stay beside a program whose folder this user may
    // write (a portable copy); an installed or read-only program keeps them
    // in the user's data folder, created when needed.
    void dataFolderChoice_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("installedThere");
        QTest::addColumn<bool>("userFolderGiven");
        QTest::addColumn<bool>("keptBesideProgram");
        QTest::newRow("writable") << "writable" << false << true << true;
        QTest::newRow("read-only") << "read-only" << false << true << false;
        QTest::newRow("installed, writable by root") << "writable" << true << true << false;
        QTest::newRow("read-only, no user folder") << "read-only" << false << false << true;
    }
    void dataFolderChoice() {
        QFETCH(QString, program);
        QFETCH(bool, installedThere);
        QFETCH(bool, userFolderGiven);
        QFETCH(bool, keptBesideProgram);
        QTemporaryDir dir;
        QString programFolder = dir.filePath("bin");
        QVERIFY(QDir().mkpath(programFolder));
        if (program == "read-only") {
            // Root may write to any folder whatever its mode; not to this one.
            if (geteuid() == 0)
                programFolder = QStringLiteral("/proc/self");
            else
                QVERIFY(QFile::setPermissions(programFolder, QFile::ReadOwner | QFile::ExeOwner));
        }
        const QString userFolder = userFolderGiven ? dir.filePath("home/data/tool") : QString();
        const QString chosen = AppFolder::Choose(
            programFolder, installedThere ? programFolder + "/" : QStringLiteral("/usr/bin"),
            userFolder);
        QCOMPARE(chosen, keptBesideProgram ? programFolder : userFolder);
        QCOMPARE(AppFolder::IsWritable(chosen), chosen == userFolder || program == "writable");
        QFile::setPermissions(dir.filePath("bin"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void firstPageAsksForTheDevice() {
        auto* page = qobject_cast<NoDevice*>(window->centralWidget());
        QVERIFY(page);
        QCOMPARE(page->objectName(), QStringLiteral("BaseUI"));
        QCOMPARE(page->pageName, QStringLiteral("NoDevice"));
        QCOMPARE(page->geometry(), QRect(0, 0, 539, 203));
        QLabel* label = statusOf(page);
        QVERIFY(label);
        QCOMPARE(Globals::StatusLabel.data(), label);
        QCOMPARE(label->text(), QStringLiteral("Please plug in your device"));
        QCOMPARE(label->alignment(), Qt::AlignCenter);
        QCOMPARE(label->geometry(), QRect(20, 70, 511, 41));
        label->ensurePolished();
        QCOMPARE(label->font().pointSize(), 16);
        QCOMPARE(label->font().family(), QStringLiteral("Arial"));
    }

    void noDevicePageShowsProcessingDuringUpdate() {
        Globals::NoDeviceMessage = Globals::ProcessingMessage;
        NoDevice page;
        QCOMPARE(statusOf(&page)->text(), QStringLiteral("Processing"));
        Globals::NoDeviceMessage = Globals::PlugInMessage;
    }

    void resourcesAreRealImages() {
        QIcon icon(":/logo/Logo/Logo.ico");
        QVERIFY(!icon.availableSizes().isEmpty());
        QImage button(":/Logo/btnupdatefirmware2121.png");
        QCOMPARE(button.size(), QSize(211, 45));
        QMovie movie(":/btn/Btn/loading.gif");
        QVERIFY(movie.isValid());
        QVERIFY(movie.frameCount() > 1);
        // Twice the size for screens scaled by 2, shown at the same size.
        QImage button2x(":/Logo/btnupdatefirmware2121@2x.png");
        QCOMPARE(button2x.size(), QSize(422, 90));
        QCOMPARE(button2x.devicePixelRatio(), 2.0);
        QMovie movie2x(":/btn/Btn/loading@2x.gif");
        QVERIFY(movie2x.jumpToFrame(0));
        QCOMPARE(movie2x.currentImage().size(), QSize(56, 56));
        QCOMPARE(movie2x.currentImage().devicePixelRatio(), 2.0);
    }

    void addControlRefusesPagesWithoutPort_data() {
        QTest::addColumn<QString>("portName");
        QTest::newRow("sentinel") << "NoDevice";
        QTest::newRow("empty") << "";
    }
    void addControlRefusesPagesWithoutPort() {
        QFETCH(QString, portName);
        Globals::PortName = portName;
        QPointer<QWidget> before = window->centralWidget();
        auto* requested = new InitPage();
        QPointer<InitPage> guard(requested);
        AddControl(requested);

        QWidget* shown = window->centralWidget();
        QVERIFY(qobject_cast<NoDevice*>(shown));
        QVERIFY(shown != before.data());
        QTRY_VERIFY(before.isNull());
        QVERIFY(!guard.isNull());
        QVERIFY(!guard->isVisible());
        QVERIFY(!guard->parent());
        delete requested;
    }

    void addControlShowsPageWithPort() {
        Globals::PortName = QStringLiteral("ttyACM0");
        QPointer<QWidget> before = window->centralWidget();
        auto* page = new InitPage();
        AddControl(page);
        QCOMPARE(window->centralWidget(), page);
        QCOMPARE(page->parent(), window);
        QTRY_VERIFY(before.isNull());
    }

    void dragMovesWindowByTheCursor() {
        window->move(40, 60);
        QCOMPARE(window->pos(), QPoint(40, 60));
        press(window, QPoint(100, 100));
        moveTo(window, QPoint(150, 130));
        QCOMPARE(window->pos(), QPoint(90, 90));
    }

    void pagesForwardDragging_data() {
        QTest::addColumn<int>("buttonValue");
        QTest::newRow("left button") << int(Qt::LeftButton);
        QTest::newRow("right button") << int(Qt::RightButton);
    }
    void pagesForwardDragging() {
        QFETCH(int, buttonValue);
        const auto button = static_cast<Qt::MouseButton>(buttonValue);
        Globals::PortName = QStringLiteral("ttyACM0");
        auto* page = new InitPage();
        AddControl(page);
        window->move(40, 60);
        press(page, QPoint(100, 100));
        moveTo(page, QPoint(150, 130), button);
        QCOMPARE(window->pos(), QPoint(90, 90));
        // A label on the page passes the event on to the page.
        auto* label = page->findChild<QLabel*>("label");
        QVERIFY(label);
        press(label, QPoint(200, 200));
        moveTo(label, QPoint(190, 210), button);
        QCOMPARE(window->pos(), QPoint(80, 100));
    }

    // A second instance on the same data folder says so and starts no port thread.
    void secondInstanceTouchesNothing() {
        MainWindow::SetAlreadyRunning(true);
        MainWindow second;
        MainWindow::SetAlreadyRunning(false);
        QCOMPARE(statusOf(second.centralWidget())->text(),
                 QStringLiteral("Tembra Update Tool is already running"));
        QVERIFY(!second.monitor());
        QVERIFY(!second.port());
    }

    // A run's log file: the header first, then every line with its time to
    // the millisecond, the outcome last; the user's alone. Kept: the newest
    // ten by time, failed runs of the last 14 days, and files in use.
    void logFilePerRun() {
        QTemporaryDir dir;
        const QDateTime now = QDateTime::currentDateTime();
        // name's time, age in days, ended well
        const auto old = [&](const QString& stamp, int days, bool ok) {
            QFile f(dir.filePath("tembra-update-tool-" + stamp + "-000.log"));
            f.open(QIODevice::WriteOnly);
            f.write(ok ? "x\noutcome: ok\n" : "x\n");
            f.flush();
            f.setFileTime(now.addDays(-days), QFileDevice::FileModificationTime);
            return f.fileName();
        };
        QStringList keptFiles, gone;
        for (int i = 0; i < LogFile::KeepFiles - 1; ++i) // named as if older than all
            keptFiles << old(QStringLiteral("20000101-0000%1").arg(i, 2, 10, QLatin1Char('0')), 1,
                             true);
        gone << old("29991231-000000", 30, true);      // a clock set forward: old all the same
        keptFiles << old("20200101-000000", 3, false); // a failed run, recent
        gone << old("20200101-000001", 20, false);     // a failed run, too old
        const QString busy = old("20200101-000002", 40, true);
        keptFiles << busy;
        QFile holder(busy);
        QVERIFY(holder.open(QIODevice::ReadOnly) && ::flock(holder.handle(), LOCK_SH) == 0);

        const QString path = LogFile::Start(
            dir.filePath("logs/.."), LogFile::Header("/data/folder", {"tool", "--port", "a b"}));
        QVERIFY(!path.isEmpty());
        qCDebug(lcApp).noquote() << "a line for the file";
        LogFile::Stop(false);
        qCDebug(lcApp).noquote() << "a line after the file was closed";
        for (const QString& f : keptFiles)
            QVERIFY2(QFile::exists(f), qPrintable(f));
        for (const QString& f : gone)
            QVERIFY2(!QFile::exists(f), qPrintable(f));
        QCOMPARE(QFileInfo(path).permissions() & 0x7077,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(QFileInfo(dir.path()).permissions() & 0x7077,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.value(0), QStringLiteral("Tembra Update Tool 1.3.0"));
        QVERIFY(lines.value(1).startsWith("commit: "));
        QVERIFY(lines.value(2).startsWith("system: "));
        QVERIFY(lines.value(3).startsWith(QStringLiteral("Qt: %1 at run time").arg(qVersion())));
        QCOMPARE(lines.value(4), QStringLiteral("platform: offscreen"));
        QCOMPARE(lines.value(5), QStringLiteral("settings and firmware: /data/folder"));
        QCOMPARE(lines.value(6), QStringLiteral("command line: tool --port 'a b'"));
        QCOMPARE(lines.value(7), QStringLiteral("log form: 2"));
        QCOMPARE(lines.size(), 10);
        QVERIFY(
            QRegularExpression(
                R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} tembra\.app debug: a line for the file$)")
                .match(lines.value(8))
                .hasMatch());
        QVERIFY(lines.value(9).endsWith(" outcome: ok"));

        // Runs that start in the same millisecond write files of their own.
        QStringList quick;
        for (int i = 0; i < 3; ++i) {
            quick << LogFile::Start(dir.path(), {QStringLiteral("run %1").arg(i)});
            LogFile::Stop(false);
        }
        quick.removeDuplicates();
        QCOMPARE(quick.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QFile one(quick.at(i));
            QVERIFY(one.open(QIODevice::ReadOnly));
            QVERIFY(one.readAll().startsWith(QStringLiteral("run %1\n").arg(i).toUtf8()));
        }

        // A file stops at its limit, and says so in its last line.
        LogFile::SetMaxBytes(400);
        const QString capped = LogFile::Start(dir.path(), {});
        for (int i = 0; i < 20; ++i)
            qCDebug(lcApp).noquote() << "line" << i;
        LogFile::Stop(true);
        LogFile::SetMaxBytes(0);
        QVERIFY(QFileInfo(capped).size() <= 400);
        QFile cut(capped);
        QVERIFY(cut.open(QIODevice::ReadOnly));
        QVERIFY(cut.readAll().trimmed().endsWith("nothing more is written to it"));

        // A folder that cannot be made: no file, and the tool goes on.
        QVERIFY(LogFile::Start(path + "/sub", {}).isEmpty());
    }

    // Qt 5 is asked to scale the window to the screen's density, as Qt 6 does.
    void scaledToTheScreen() {
        Toolkit::PrepareApplication();
        QVERIFY(Toolkit::ScalesToScreen());
    }

private:
    MainWindow* window = nullptr;
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
