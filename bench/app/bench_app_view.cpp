// The main window with a ZIP file of 100,000 entries, on the offscreen platform: opening it into the list,
// clicking every column header, selecting all and inverting, as the user does. Each step includes the list's
// repaint. The reference is the model's own sort of the same rows (bench_app_model shows those times alone).
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "app/ini_file.h"
#include "app/ui/main_window.h"
#include "bench/app/big_zip.h"
#include "platform/tempfile.h"

int main(int argc, char** argv) {
    using namespace varnok;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    const int n = argc > 1 ? atoi(argv[1]) : 100000;
    std::string dir = platform::CreateTempDir("", "vnkbench");
    std::string path = dir + "/big.zip";
    bench::BuildZip(path, n);
    {
        app::IniFile ini(dir + "/config/varnok/varnok.ini");
        ini.WriteString("FileAssociation", "NoDialog", "1");
        ini.WriteString("FileAssociation", "Associate", "0");
        ini.Flush();
    }
    {
        ui::MainWindow w({dir + "/config/varnok", dir + "/config", dir + "/data", "/usr/bin/varnok"});
        w.resize(1000, 700);
        w.show();
        QTest::qWait(20);
        QElapsedTimer t;
        t.start();
        w.OpenArchive(QString::fromStdString(path));
        QApplication::processEvents();
        printf("rows: %d\n", w.TableModel()->rowCount());
        printf("open into the list:         %6lld ms\n", static_cast<long long>(t.elapsed()));
        QHeaderView* h = w.List()->horizontalHeader();
        long long worst = 0;
        for (int c = 0; c < app::kColumnCount; ++c) {
            long long ms[2];
            for (long long& m : ms) {
                t.restart();
                QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                                  QPoint(h->sectionViewportPosition(c) + 5, 5));
                QApplication::processEvents();
                m = t.elapsed();
                worst = std::max(worst, m);
            }
            t.restart();
            w.Model().Resort();
            long long model = t.elapsed();
            printf("click %-10s  asc %4lld ms  desc %4lld ms  (model sort alone %lld ms)\n",
                   app::kColumnCaptions[c], ms[0], ms[1], model);
        }
        printf("slowest header click:       %6lld ms\n", worst);
        t.restart();
        w.Action(app::Cmd::SelectAll)->trigger();
        QApplication::processEvents();
        printf("select all:                 %6lld ms\n", static_cast<long long>(t.elapsed()));
        t.restart();
        w.Action(app::Cmd::InvertSelection)->trigger();
        QApplication::processEvents();
        printf("invert selection:           %6lld ms\n", static_cast<long long>(t.elapsed()));
        for (int i = 0; i < w.Model().RowCount(); i += 2)
            w.Model().SetSelected(i, true);
        w.SelectionReset();
        t.restart();
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, QPoint(h->sectionViewportPosition(0) + 5, 5));
        QApplication::processEvents();
        printf("click with every 2nd row selected: %lld ms\n", static_cast<long long>(t.elapsed()));
        w.close();
    }
    platform::RemoveTree(dir);
    return 0;
}
