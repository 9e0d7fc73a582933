// Runs the tool's real window against a simulated device (on a pseudo-
// terminal, at 115200 baud line timing) and a local update service that
// offers firmware 1.3.0 for a device running 1.2.7.
//
// With a display the window opens and the user presses "1.Update Firmware".
// Without one, or with --auto, it runs offscreen, presses the button itself,
// prints every status text as it changes and exits 0 once the device reports
// the new version (1 with the reason otherwise). --fault and --unplug-at make
// the service or the device fail, to see what the window says then.
#include "app/mainwindow.h"
#include "app/offercheck.h"
#include "app/state/updateevents.h"
#include "app/translations.h"
#include "device/portlist.h"
#include "pages/initpage.h"
#include "pages/progresspanel.h"
#include "pages/xmodemupdate.h"
#include "sim/firmwareimage.h"
#include "sim/simdevice.h"
#include "sim/updateservice.h"
#include "web/webdal.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
const char kNewVersion[] = "1.3.0";
const int kTimeoutMs = 120000;
const int kPollMs = 10;
const size_t kImageSize = 64 * 1024;

struct Options {
    bool automatic = false;
    QString screenshots; // folder for a picture of every page, if set
    // For trying the window's failures by hand: the service's fault, and the
    // device pulled out at a packet (back in its boot loader after a while,
    // or never), or restarting into its boot loader without answering.
    sim::ServiceFault fault = sim::ServiceFault::None;
    int unplugAt = 0;
    int returnAfterMs = -1;
    bool switchWithoutAnswer = false;
};

int usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--auto] [--screenshots DIR] [--fault NAME]\n"
                 "          [--unplug-at K [--return-after MS]] [--switch-without-answer]\n"
                 "faults:%s\n",
                 program, sim::faultNames().c_str());
    std::exit(2);
}

void say(const QString& text) {
    std::printf("%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

QString pageKind(QWidget* page) {
    if (qobject_cast<InitPage*>(page))
        return QStringLiteral("device information");
    if (qobject_cast<XModemUpdate*>(page))
        return QStringLiteral("firmware download");
    if (qobject_cast<NoDevice*>(page))
        return QStringLiteral("no device / progress");
    return QStringLiteral("?");
}

QString versionShown(QWidget* page) {
    auto* info = qobject_cast<InitPage*>(page);
    auto* label = info ? info->findChild<QLabel*>("LbVersion") : nullptr;
    return label ? label->text() : QString();
}

// Watches the window: reports page and status changes, presses the update
// button when asked to, and ends the demo when the new version is shown.
class Driver : public QObject {
public:
    Driver(MainWindow* window, const Options& options, sim::UpdateService* service,
           sim::SimDevice* device)
        : window(window), options(options), service(service), device(device) {
        // The run's status in English, whatever language the window speaks.
        connect(UpdateEvents::instance(), &UpdateEvents::StatusText, this,
                [this](const QString& text) { english = text; });
        connect(&timer, &QTimer::timeout, this, [this] { poll(); });
        timer.start(kPollMs);
        clock.start();
    }

private:
    void poll() {
        QWidget* page = window->centralWidget();
        const QString status = Globals::StatusLabel ? Globals::StatusLabel->text() : QString();
        auto* stepLine = page->findChild<QLabel*>(QStringLiteral("stepMsg"));
        const QString step = stepLine && stepLine->isVisibleTo(page) ? stepLine->text() : QString();
        if (page != lastPage) {
            lastPage = page;
            say(QStringLiteral("[page] ") + pageKind(page));
            shotPending = true;
        }
        if (status != lastStatus) {
            lastStatus = status;
            say(QStringLiteral("[status] ") + status);
            shotPending = true;
        }
        if (step != lastStep) {
            lastStep = step;
            shotPending = true;
        }
        // The device page's pictures are named by their version, not by the
        // status of the page before them, and taken once it says what the
        // service offers.
        const bool offerAsked = OfferCheck::Current().kind == OfferCheck::Kind::Asking;
        if (shotPending && !options.screenshots.isEmpty() &&
            !(qobject_cast<InitPage*>(page) && offerAsked)) {
            screenshot(page, qobject_cast<InitPage*>(page) ? QString() : english, step);
            shotPending = false;
        }
        if (options.screenshots.isEmpty())
            shotPending = false;
        // For the pictures: a device that does not answer at first, then
        // plugged in again, answering.
        if (!options.screenshots.isEmpty() && english.startsWith(QLatin1String("Connecting")) &&
            !replugged) {
            replugged = true;
            QTimer::singleShot(1500, this, [this] {
                sim::DeviceConfig config = device->config();
                config.silent = false;
                device->configure(config);
                device->replug(300);
            });
        }
        // For the pictures: the device page after a failed try.
        if (failing && qobject_cast<InitPage*>(page) &&
            page->findChild<QLabel*>(QStringLiteral("failureMsg"))->isVisibleTo(page)) {
            failing = false;
            screenshot(page, QStringLiteral("failure"), QString());
            // Then a firmware file of the user's, as if dropped on the page.
            QTimer::singleShot(600, this, [this] {
                const QString path = files.filePath(QStringLiteral("tembra-1.3.1.bin"));
                QFile file(path);
                const std::vector<uint8_t> image = sim::makeFirmwareImage(kImageSize, 1, 3, 1);
                if (!file.open(QIODevice::WriteOnly) ||
                    file.write(reinterpret_cast<const char*>(image.data()), qint64(image.size())) !=
                        qint64(image.size())) {
                    say(QStringLiteral("Cannot write %1.").arg(path));
                    QCoreApplication::exit(1);
                    return;
                }
                file.close();
                say(QStringLiteral("Dropping %1 on the device page.").arg(path));
                choosing = true;
                window->OfferFirmwareFile(path);
            });
        }

        const QString version = versionShown(page);
        if (!version.isEmpty() && version == QLatin1String(kNewVersion) && !complete) {
            complete = true;
            say(QStringLiteral("The device reports firmware %1: update complete.").arg(version));
            if (options.screenshots.isEmpty()) {
                if (options.automatic) // after the last picture has been taken
                    QTimer::singleShot(400, [] { QCoreApplication::exit(0); });
                timer.stop();
                return;
            }
            // For the pictures: the same version once more, which asks first.
            QTimer::singleShot(800, this, [this] {
                say(QStringLiteral("Pressing \"1.Update Firmware\" again on firmware %1.")
                        .arg(kNewVersion));
                if (auto* button = window->centralWidget()->findChild<QPushButton*>("BtnUpdate"))
                    button->click();
            });
        }
        auto* asked = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (asked && asked->isVisible() && choosing) {
            choosing = false;
            say(QStringLiteral("[question] ") + asked->text());
            QTimer::singleShot(300, this, [this, asked] {
                screenshot(window->centralWidget(), QStringLiteral("chosen-file-question"),
                           QString(), asked);
                QTimer::singleShot(600, [asked] {
                    asked->button(QMessageBox::No)->click();
                    QCoreApplication::exit(0);
                });
            });
        }
        if (auto* question = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            if (question->isVisible() && !questionShot) {
                questionShot = true;
                say(QStringLiteral("[question] ") + question->text());
                QTimer::singleShot(300, this, [this, question] {
                    screenshot(window->centralWidget(), QStringLiteral("question"), QString(),
                               question);
                    QTimer::singleShot(300, this, [this, question] {
                        question->button(QMessageBox::No)->click();
                        // Once more, with the service failing: the device
                        // page says what failed, and what to do.
                        QTimer::singleShot(800, this, [this] {
                            say(QStringLiteral("The update service fails now; pressing \"1.Update "
                                               "Firmware\" again."));
                            service->setFault(sim::ServiceFault::Unavailable);
                            failing = true;
                            if (auto* button =
                                    window->centralWidget()->findChild<QPushButton*>("BtnUpdate"))
                                button->click();
                        });
                    });
                });
            }
        }
        if (complete)
            return;
        if (options.automatic && !pressed && !version.isEmpty()) {
            pressed = true;
            say(QStringLiteral("The device runs firmware %1; pressing \"1.Update Firmware\".")
                    .arg(version));
            QTimer::singleShot(500, this, [this] {
                if (auto* button = window->centralWidget()->findChild<QPushButton*>("BtnUpdate"))
                    button->click();
            });
        }
        if (options.automatic && clock.elapsed() > kTimeoutMs) {
            say(QStringLiteral(
                    "Timed out: the device did not report %1 within %2 s (last status: %3).")
                    .arg(kNewVersion)
                    .arg(kTimeoutMs / 1000)
                    .arg(lastStatus));
            QCoreApplication::exit(1);
        }
    }

    void screenshot(QWidget* page, const QString& status, const QString& step,
                    QWidget* dialog = nullptr) {
        // One picture per page kind and distinct status class.
        QString name = qobject_cast<InitPage*>(page)       ? QStringLiteral("device-information")
                       : qobject_cast<XModemUpdate*>(page) ? QStringLiteral("download")
                                                           : QStringLiteral("no-device");
        if (dialog)
            name += status == QLatin1String("question") ? QStringLiteral("-same-version-question")
                                                        : QLatin1Char('-') + status;
        else if (status == QLatin1String("failure"))
            name += QStringLiteral("-failure");
        else if (status.startsWith(QLatin1String("Connecting")))
            name += QStringLiteral("-connecting");
        else if (status.startsWith(" firmware processing") &&
                 step.size() > ProgressPanel::StepText(UpdateEvents::Phase::Transferring).size())
            name += QStringLiteral("-transfer-time-left");
        else if (status.startsWith(" firmware processing"))
            name += QStringLiteral("-transfer");
        else if (status.startsWith(" downloading firmware"))
            name += QStringLiteral("-progress");
        else if (status.contains(QLatin1String("Successfully")))
            name += QLatin1Char('-') +
                    QString(status).toLower().replace(QLatin1Char(' '), QLatin1Char('-'));
        else if (pageKind(page) == QLatin1String("device information") &&
                 versionShown(page) == QLatin1String(kNewVersion))
            name += QStringLiteral("-updated");
        if (taken.contains(name))
            return;
        taken << name;
        // Let the page paint (and the animation turn) before the picture.
        QTimer::singleShot(150, this, [this, name, dialog] {
            QPixmap picture;
            if (QGuiApplication::platformName() == QLatin1String("xcb")) {
                // A dialog is a window of its own: the screen around both.
                const QRect area =
                    dialog ? window->frameGeometry() | dialog->frameGeometry() : QRect();
                picture = dialog ? window->screen()->grabWindow(0, area.x(), area.y(), area.width(),
                                                                area.height())
                                 : window->screen()->grabWindow(window->winId());
            } else {
                picture = window->grab();
            }
            const QString path =
                QDir(options.screenshots)
                    .filePath(QStringLiteral("%1-%2.png")
                                  .arg(taken.indexOf(name) + 1, 2, 10, QLatin1Char('0'))
                                  .arg(name));
            picture.save(path);
            say(QStringLiteral("[screenshot] ") + path);
        });
    }

    MainWindow* window;
    Options options;
    sim::UpdateService* service;
    sim::SimDevice* device;
    QString lastStep;
    QString english;
    bool replugged = false;
    bool failing = false;
    bool choosing = false;
    QTemporaryDir files;
    QTimer timer;
    QElapsedTimer clock;
    QWidget* lastPage = nullptr;
    QString lastStatus;
    bool pressed = false;
    bool shotPending = false;
    bool complete = false;
    bool questionShot = false;
    QStringList taken;
};

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--auto") == 0)
            options.automatic = true;
        else if (std::strcmp(argv[i], "--screenshots") == 0 && i + 1 < argc)
            options.screenshots = QString::fromLocal8Bit(argv[++i]);
        else if (std::strcmp(argv[i], "--fault") == 0 && i + 1 < argc) {
            if (!sim::faultNamed(argv[++i], &options.fault))
                usage(argv[0]);
        } else if (std::strcmp(argv[i], "--unplug-at") == 0 && i + 1 < argc)
            options.unplugAt = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--return-after") == 0 && i + 1 < argc)
            options.returnAfterMs = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--switch-without-answer") == 0)
            options.switchWithoutAnswer = true;
        else
            usage(argv[0]);
    }
    if (options.unplugAt < 0 || (options.returnAfterMs >= 0 && options.unplugAt == 0))
        usage(argv[0]);
    const bool display =
        qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
    if (!display)
        options.automatic = true;
    if (options.automatic && !display && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return options;
}
} // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    if (options.automatic && !qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
        qputenv("QT_LOGGING_RULES", "tembra.*.debug=false\ntembra.*.info=false");
    QApplication app(argc, argv);
    // The window in the user's language, as the tool's own.
    Translations::Install(QLocale::system().uiLanguages());

    sim::UpdateService service;
    service.setImage(sim::makeFirmwareImage(kImageSize, 1, 3, 0), kNewVersion);
    service.setNotes("Counts steps more exactly while running.\nThe battery lasts a day longer.\n"
                     "The heart rate is shown again after the watch wakes from sleep, and the "
                     "display stays readable in bright sunlight.");
    if (!options.screenshots.isEmpty())
        service.setFault(sim::ServiceFault::SlowBody); // long enough to see the download
    if (options.fault != sim::ServiceFault::None)
        service.setFault(options.fault);
    if (service.start(0) < 0) {
        say(QStringLiteral("Cannot start the local update service on 127.0.0.1."));
        return 1;
    }
    WebDAL::SetBaseUrl(QString::fromStdString(service.baseUrl()));
    say(QStringLiteral("Local update service on %1")
            .arg(QString::fromStdString(service.baseUrl())));

    sim::DeviceConfig config;
    config.lineTiming = true;
    // For the pictures, a device that does not answer at first.
    config.silent = !options.screenshots.isEmpty();
    config.unplugAtPacket = options.unplugAt;
    config.returnAfterMs = options.returnAfterMs;
    config.switchWithoutAnswer = options.switchWithoutAnswer;
    sim::SimDevice device(config);
    PortList::SetProvider([&device] {
        QList<PortEntry> ports;
        if (device.present())
            ports.append(PortEntry{QString::fromStdString(device.portPath()),
                                   QString::fromStdString(device.description())});
        return ports;
    });

    QTemporaryDir appDir;
    // The demo's update goes into a history of its own, not the user's.
    qputenv("XDG_STATE_HOME", QFile::encodeName(appDir.filePath(QStringLiteral("state"))));
    int result = 0;
    {
        MainWindow window(nullptr);
        // Configuration and the downloaded firmware go to a scratch folder.
        Globals::AppPath = appDir.path();
        window.show();
        Driver driver(&window, options, &service, &device);
        QTimer::singleShot(800, [&device] {
            device.plug();
            say(QStringLiteral("Simulated device plugged in on %1 (firmware 1.2.7)")
                    .arg(QString::fromStdString(device.portPath())));
        });
        result = QApplication::exec();
    }
    PortList::ResetProvider();
    return result;
}
