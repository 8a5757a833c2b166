#include "tests/app_ui/ui_test_support.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QDir>
#include <QElapsedTimer>
#include <QTest>

#include "app/ini_file.h"

namespace varnok::ui::test {

void Sandbox::Settings(const std::string& text, bool quietAssociations) {
    app::IniFile ini(Ini());
    ini.Parse(text);
    if (quietAssociations && !ini.HasKey("FileAssociation", "NoDialog")) {
        ini.WriteString("FileAssociation", "NoDialog", "1");
        ini.WriteString("FileAssociation", "Associate", "0");
    }
    // Parse does not mark the file changed; writing one key does.
    ini.WriteString("Test", "Written", "1");
    ini.Flush();
}

namespace {

// Clears a window's "answered" mark when it hides, so that its next showing is answered again.
class HideWatcher : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Hide) o->setProperty("vnAnswered", false);
        return false;
    }
};

}  // namespace

void Screenshot(QWidget* w, const QString& what) {
    const QByteArray dir = qgetenv("VARNOK_SCREENSHOTS");
    if (dir.isEmpty() || !w) return;
    static int seq = 0;
    const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
    QString name = QString::asprintf("%03d-", ++seq);
    if (t) name += QString::fromLatin1(t->test_suite_name()) + QLatin1Char('.') + QString::fromLatin1(t->name());
    name += QLatin1Char('-') + what + QStringLiteral(".png");
    QDir().mkpath(QString::fromLocal8Bit(dir));
    w->grab().save(QDir(QString::fromLocal8Bit(dir)).filePath(name));
}

ModalDriver::ModalDriver(std::function<bool(QWidget*)> handler) : handler_(std::move(handler)) {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible() || w->property("vnAnswered").toBool()) return;
        if (!handler_(w)) return;
        // The window as the user saw it when answering (its window behind it too).
        if (QWidget* behind = w->parentWidget() ? w->parentWidget()->window() : nullptr)
            Screenshot(behind, QString::fromLatin1(behind->metaObject()->className()).section(QLatin1Char(':'), -1));
        Screenshot(w, QString::fromLatin1(w->metaObject()->className()).section(QLatin1Char(':'), -1));
        ++handled_;
        // Each showing of a window is answered once.
        w->setProperty("vnAnswered", true);
        if (!w->property("vnWatched").toBool()) {
            w->setProperty("vnWatched", true);
            w->installEventFilter(new HideWatcher(w));
        }
    });
    timer_.start();
}

ModalDriver::~ModalDriver() {
    timer_.stop();
}

bool ClickButton(QWidget* w, const QString& text) {
    for (auto* b : w->findChildren<QAbstractButton*>()) {
        if (b->text().remove(QLatin1Char('&')) == text && b->isVisible() && b->isEnabled()) {
            // Queued, so that a window the click opens is answered by the driver too (a timer does not run
            // again while its own handler is still running).
            QMetaObject::invokeMethod(b, "click", Qt::QueuedConnection);
            return true;
        }
    }
    return false;
}

bool WaitFor(const std::function<bool()>& pred, int ms) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms) return false;
        QTest::qWait(10);
    }
    return true;
}

}  // namespace varnok::ui::test

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
