#include "app/ui/session_end.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QTimer>

#include "app/ui/main_window.h"

namespace varnok::ui {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

// The handler only writes the signal's number to a pipe; the event loop does the rest.
int signalPipe[2] = {-1, -1};

void OnEndSignal(int sig) {
    const unsigned char n = static_cast<unsigned char>(sig);
    [[maybe_unused]] ssize_t r = write(signalPipe[1], &n, 1);
}

void SetHandlers(void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : kSignals)
        sigaction(sig, &sa, nullptr);
}

}  // namespace

void EndWithTheSession(MainWindow& w, std::function<void(int)> quit) {
    if (signalPipe[0] < 0 && pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    if (!quit) quit = [](int status) { QCoreApplication::exit(status); };
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &w);
    QObject::connect(notifier, &QObject::destroyed, [] { SetHandlers(SIG_DFL); });
    QObject::connect(notifier, &QSocketNotifier::activated, &w, [&w, notifier, quit] {
        unsigned char sig = 0;
        if (read(signalPipe[0], &sig, 1) != 1) return;
        notifier->setEnabled(false);
        // A second signal ends the program at once, should the orderly end below get stuck.
        SetHandlers(SIG_DFL);
        // The program ends below, with the signal's status, not as the last window closes.
        QApplication::setQuitOnLastWindowClosed(false);
        // Step by step from the event loop: an open dialog is answered as by Escape (its own loop must end
        // before the program can), a running operation stops, and the window closes when it has.
        auto* step = new QTimer(&w);
        auto next = [&w, step, sig, quit] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                if (auto* dialog = qobject_cast<QDialog*>(modal))
                    dialog->done(QDialog::Rejected);
                else
                    modal->close();
                return;
            }
            if (!w.Exited()) {
                w.close();
                if (!w.Exited()) return;
            }
            step->stop();
            quit(128 + sig);
        };
        QObject::connect(step, &QTimer::timeout, &w, next);
        step->start(50);
        next();
    });
    SetHandlers(OnEndSignal);
}

}  // namespace varnok::ui
