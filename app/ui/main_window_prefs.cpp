// The main window's side of the Preferences dialog: the window state the dialog shows and the visual steps
// of its OK (list look, bars, columns, the ZIP directory read again), and the dialog's wiring to the model,
// the file associations and the update check.
#include <QAction>
#include <QHeaderView>
#include <QStatusBar>
#include <QToolBar>

#include "app/ui/main_window.h"
#include "app/ui/preferences_dialog.h"
#include "app/ui/ui_common.h"
#include "app/update/update_window.h"

namespace varnok::ui {

using app::Cmd;

namespace {

class WindowSteps : public app::PreferencesWindow {
  public:
    explicit WindowSteps(MainWindow& w) : w_(w) {}

    bool ToolbarShown() const override { return !w_.MainToolBar()->isHidden(); }
    bool StatusbarShown() const override { return !w_.statusBar()->isHidden(); }
    int ColumnWidth(int column) const override {
        QHeaderView* h = w_.List()->horizontalHeader();
        return h->isSectionHidden(column) ? 0 : h->sectionSize(column);
    }

    void ApplyListLook(const app::ListLook& look) override {
        ListOptions o;
        o.rowSelect = look.rowSelect;
        o.gridLines = look.gridLines;
        o.singleClick = look.singleClick;
        o.mousePoint = look.underlineHot;
        o.alwaysUnder = look.underlineAlways;
        w_.List()->SetOptions(o);
    }
    void ShowBars(bool toolbar, bool statusbar) override {
        w_.MainToolBar()->setVisible(toolbar);
        w_.statusBar()->setVisible(statusbar);
        w_.Action(Cmd::ViewToolbar)->setChecked(toolbar);
        w_.Action(Cmd::ViewStatusbar)->setChecked(statusbar);
    }
    void SetColumnWidth(int column, int width) override {
        QHeaderView* h = w_.List()->horizontalHeader();
        h->setSectionHidden(column, width == 0);
        if (width > 0) h->resizeSection(column, width);
    }
    void ReadDirectoryAgain() override {
        w_.BeginRowsUpdate();
        w_.Model().Reread();
        w_.EndRowsUpdate();
    }

  private:
    MainWindow& w_;
};

}  // namespace

void MainWindow::ShowPreferences(app::PreferencesPage page) {
    if (Model().Busy()) return;
    WindowSteps steps(*this);
    app::PreferencesModel model;
    model.Load(App(), steps);
    PreferencesDialog d(model, page, this);
    d.OnApply = [this, &model, &steps] { return model.Apply(App(), steps); };
    d.OnClose = [this, &model] { model.Close(App()); };
    d.OnFileTypesShown = [this, &model] { model.LoadFileTypes(App().FileAssociations()); };
    d.OnCheckNow = [this, &d](const std::string& host, int port) {
        update::TWebFileInfo wfi;
        update::ConfigureChecker(wfi, App().Config());
        wfi.ProxyHost = host;
        wfi.ProxyPort = port;
        update::UpdateDialogue dialogue(&d, wfi);
        dialogue.CheckForUpdate();
        if (!dialogue.SavedPath().isEmpty()) Log("Update saved as " + S(dialogue.SavedPath()));
    };
    if (preferencesHook) preferencesHook(&d);
    d.exec();
}

}  // namespace varnok::ui
