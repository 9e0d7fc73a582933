#include "app/quitonsignal.h"

#include "app/logging.h"

#include <QApplication>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// The handler may only write to a descriptor; the event loop reads the other end.
int signalPipe[2] = {-1, -1};
// How long the tool is given to end by itself once asked: whatever holds it
// up (a system call that does not return), a signal always ends it.
const unsigned kEndWithinSeconds = 20;
volatile std::sig_atomic_t asked = 0;

void endNow(int) {
    static const char said[] = "tembra-update-tool: stopped by a signal without ending in time\n";
    const ssize_t written = ::write(STDERR_FILENO, said, sizeof(said) - 1);
    (void)written;
    ::_exit(130);
}

void onSignal(int) {
    if (!asked)
        ::alarm(kEndWithinSeconds);
    asked = 1;
    const char byte = 1;
    const ssize_t written = ::write(signalPipe[0], &byte, 1);
    (void)written;
}
} // namespace

void QuitOnTerminationSignals() {
    if (signalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [notifier] {
        char byte = 0;
        const ssize_t read = ::read(signalPipe[1], &byte, 1);
        (void)read;
        notifier->setEnabled(false);
        // Asked by the system, not by the user: no question is asked.
        qCDebug(lcApp).noquote() << "asked to stop: ending the tool";
        QApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction timeUp {};
    timeUp.sa_handler = endNow;
    sigemptyset(&timeUp.sa_mask);
    ::sigaction(SIGALRM, &timeUp, nullptr);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction inherited {};
        // nohup (or a service manager) ignored it on purpose.
        if (::sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) {
            qCDebug(lcApp).noquote() << "signal" << signal << "stays ignored, as it was given";
            continue;
        }
        ::sigaction(signal, &action, nullptr);
    }
}

void IgnoreBrokenPipes() {
    std::signal(SIGPIPE, SIG_IGN);
}
#else
// Elsewhere the system closes the window itself.
void QuitOnTerminationSignals() {}
void IgnoreBrokenPipes() {}
#endif
