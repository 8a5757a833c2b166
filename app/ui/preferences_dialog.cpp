#include "app/ui/preferences_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "app/associations.h"
#include "app/mail/smtp_client.h"
#include "app/paths.h"
#include "app/ui/ui_common.h"

namespace varnok::ui {

using app::PreferencesPage;

namespace {

QCheckBox* Check(const char* text, QWidget* parent) {
    return new QCheckBox(QString::fromUtf8(text), parent);
}

QRadioButton* Radio(const char* text, QWidget* parent) {
    return new QRadioButton(QString::fromUtf8(text), parent);
}

QGroupBox* Group(const char* title, QWidget* parent) {
    return new QGroupBox(QString::fromUtf8(title), parent);
}

QLineEdit* Edit(const char* name, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromUtf8(name));
    return e;
}

QPushButton* Browse(const char* name, QWidget* parent) {
    auto* b = new QPushButton(QStringLiteral("..."), parent);
    b->setObjectName(QString::fromUtf8(name));
    b->setToolTip(QStringLiteral("Browse"));
    b->setAutoDefault(false);
    return b;
}

QComboBox* Combo(const char* name, std::initializer_list<const char*> items, QWidget* parent) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QString::fromUtf8(name));
    for (const char* i : items)
        c->addItem(QString::fromUtf8(i));
    return c;
}

// The columns in the order the page lists them: the name first, then as the list shows them by default, with
// the path last.
constexpr std::array<int, app::kColumnCount> kColumnOrder = {
    app::colName, app::colType, app::colSize,       app::colPacked, app::colRatio,
    app::colDate, app::colCrc,  app::colAttributes, app::colPath};

}  // namespace

PreferencesDialog::PreferencesDialog(app::PreferencesModel& model, PreferencesPage first, QWidget* parent)
    : QDialog(parent), model_(model) {
    setWindowTitle(QStringLiteral("Preferences"));
    setModal(true);
    setSizeGripEnabled(false);

    ChooseFolder = [this](const QString& start) {
        return QFileDialog::getExistingDirectory(this, QStringLiteral("Select Directory"), start);
    };
    ChooseProgram = [this](const QString& start) {
        QFileDialog d(this, QStringLiteral("Select Program"), start, QStringLiteral("Executable files (*)"));
        d.setFileMode(QFileDialog::ExistingFile);
        // Only programs (and the folders leading to them) are offered.
        d.setFilter(QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDotAndDotDot);
        return d.exec() == QDialog::Accepted && !d.selectedFiles().isEmpty() ? d.selectedFiles().front() : QString();
    };
    Notify = [this](const QString& title, const QString& text) { ShowMessage(this, title, text); };

    pageList_ = new QListWidget(this);
    pageList_->setObjectName(QStringLiteral("pageList"));
    stack_ = new QStackedWidget(this);
    for (const char* name : app::kPreferencesPageNames)
        pageList_->addItem(QString::fromUtf8(name));
    stack_->addWidget(MakeViewPage());
    stack_->addWidget(MakeFoldersPage());
    stack_->addWidget(MakeMiscPage());
    stack_->addWidget(MakeCompressionPage());
    stack_->addWidget(MakeExtractionPage());
    stack_->addWidget(MakeMailPage());
    stack_->addWidget(MakeFileTypesPage());
    stack_->addWidget(MakeShellPage());
    stack_->addWidget(MakeAutoUpdatePage());
    pageList_->setFixedWidth(pageList_->sizeHintForColumn(0) + 2 * pageList_->frameWidth() + 16);
    connect(pageList_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0) return;
        stack_->setCurrentIndex(row);
        PageShown(row);
    });

    ok_ = new QPushButton(QStringLiteral("&OK"), this);
    cancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
    ok_->setDefault(true);
    cancel_->setAutoDefault(false);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    auto* pages = new QHBoxLayout;
    pages->addWidget(pageList_);
    pages->addWidget(stack_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    auto* top = new QVBoxLayout(this);
    top->addLayout(pages, 1);
    top->addLayout(buttons);
    // A fixed dialog frame: as large as its largest page.
    top->setSizeConstraint(QLayout::SetFixedSize);

    Fill();
    UpdateEnabling();
    ShowPage(first);
    ok_->setFocus();
}

// ---------------------------------------------------------------------------------------------------------------
// Pages

QWidget* PreferencesDialog::FieldWithBrowse(QLineEdit* edit, QPushButton* browse, bool program) {
    auto* row = new QWidget(edit->parentWidget());
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    h->addWidget(edit, 1);
    h->addWidget(browse);
    connect(browse, &QPushButton::clicked, this, [this, edit, program] {
        QString start = edit->text().trimmed();
        if (start.isEmpty()) start = Q(app::DefaultRootFolder());
        QString chosen = program ? ChooseProgram(start) : ChooseFolder(start);
        if (chosen.isEmpty()) return;
        if (!program) chosen = Q(app::WithSlash(S(QDir::cleanPath(chosen))));
        edit->setText(chosen);
    });
    return row;
}

QWidget* PreferencesDialog::MakeViewPage() {
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);

    auto* general = Group("General options", page);
    auto* g = new QVBoxLayout(general);
    g->addWidget(rowSelect_ = Check("Row selection", general));
    g->addWidget(gridLines_ = Check("Show grid lines", general));

    auto* mouse = Group("Mouse options", page);
    auto* m = new QVBoxLayout(mouse);
    m->addWidget(singleClick_ = Radio("Single click to open", mouse));
    m->addWidget(doubleClick_ = Radio("Double click to open", mouse));
    m->addWidget(underlineHot_ = Check("Underline when mouse over", mouse));
    m->addWidget(underlineAlways_ = Check("Always underline filenames", mouse));
    connect(singleClick_, &QRadioButton::toggled, this, [this] { UpdateEnabling(); });

    auto* bars = Group("Status && Toolbar", page);
    auto* b = new QVBoxLayout(bars);
    b->addWidget(toolbar_ = Check("View Toolbar", bars));
    b->addWidget(statusbar_ = Check("View Statusbar", bars));

    auto* cols = Group("View Columns", page);
    auto* c = new QGridLayout(cols);
    for (size_t i = 0; i < kColumnOrder.size(); ++i) {
        const int col = kColumnOrder[i];
        QCheckBox* box = Check(app::kColumnCaptions[static_cast<size_t>(col)], cols);
        columns_[static_cast<size_t>(col)] = box;
        c->addWidget(box, static_cast<int>(i % 5), static_cast<int>(i / 5));
    }
    // The name column is always there.
    columns_[app::colName]->setEnabled(false);

    auto* lines = Group("View Lines", page);
    auto* l = new QVBoxLayout(lines);
    l->addWidget(dirEntries_ = Check("Directory(ies) in ZIP archive", lines));

    grid->addWidget(general, 0, 0);
    grid->addWidget(mouse, 0, 1);
    grid->addWidget(bars, 1, 0);
    grid->addWidget(cols, 1, 1);
    grid->addWidget(lines, 2, 0, 1, 2);
    grid->setRowStretch(3, 1);
    return page;
}

QWidget* PreferencesDialog::MakeFoldersPage() {
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto choice = [&](const char* title, const char* first, QRadioButton*& a, QRadioButton*& b, QLineEdit*& edit,
                      const char* editName, QPushButton*& browse, const char* browseName) {
        auto* box = Group(title, page);
        auto* l = new QVBoxLayout(box);
        l->addWidget(a = Radio(first, box));
        l->addWidget(b = Radio("Other", box));
        edit = Edit(editName, box);
        browse = Browse(browseName, box);
        l->addWidget(FieldWithBrowse(edit, browse, false));
        connect(b, &QRadioButton::toggled, this, [this] { UpdateEnabling(); });
        v->addWidget(box);
    };
    choice("Temp folder", "System default", tempSystem_, tempOther_, temp_, "tempEdit", tempBrowse_, "tempBrowse");
    choice("Work folders", "Last open folder", openLast_, openOther_, open_, "openEdit", openBrowse_, "openBrowse");
    choice("Extract to folder", "Last open folder", extractLast_, extractOther_, extract_, "extractEdit",
           extractBrowse_, "extractBrowse");
    auto* fav = Group("Favourite folder", page);
    auto* f = new QVBoxLayout(fav);
    favourite_ = Edit("favouriteEdit", fav);
    favouriteBrowse_ = Browse("favouriteBrowse", fav);
    f->addWidget(FieldWithBrowse(favourite_, favouriteBrowse_, false));
    v->addWidget(fav);
    v->addStretch(1);
    return page;
}

QWidget* PreferencesDialog::MakeMiscPage() {
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);

    auto* view = Group("To view files use...", page);
    auto* vl = new QVBoxLayout(view);
    vl->addWidget(viewerSystem_ = Radio("Text editor (system default)", view));
    vl->addWidget(viewerOther_ = Radio("Other :", view));
    viewer_ = Edit("viewerEdit", view);
    viewerBrowse_ = Browse("viewerBrowse", view);
    vl->addWidget(FieldWithBrowse(viewer_, viewerBrowse_, true));
    connect(viewerOther_, &QRadioButton::toggled, this, [this] { UpdateEnabling(); });
    v->addWidget(view);

    auto* ini = Group("Store varnok.ini (Settings)...", page);
    auto* il = new QVBoxLayout(ini);
    iniApp_ = new QRadioButton(QStringLiteral("in Application directory:   ") + Q(model_.misc.appFolder), ini);
    il->addWidget(iniApp_);
    il->addWidget(iniExtra_ = Radio("in an extra location (local):", ini));
    iniFolder_ = Edit("iniEdit", ini);
    iniBrowse_ = Browse("iniBrowse", ini);
    il->addWidget(FieldWithBrowse(iniFolder_, iniBrowse_, false));
    connect(iniExtra_, &QRadioButton::toggled, this, [this] { UpdateEnabling(); });
    v->addWidget(ini);
    v->addStretch(1);
    return page;
}

QWidget* PreferencesDialog::MakeCompressionPage() {
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* box = Group("Default Compression Rate for...", page);
    auto* form = new QFormLayout(box);
    zip_ = Combo("zipCombo", {"None", "Super fast", "Fast", "Normal (standard)", "Maximum"}, box);
    cab_ = Combo("cabCombo", {"None", "Lzx", "MsZip", "Quantum"}, box);
    lha_ = Combo("lhaCombo", {"None", "Frozen"}, box);
    tar_ = Combo("tarCombo", {"Tarred (None)", "GZipTar"}, box);
    form->addRow(QStringLiteral("Zip, Bh and Jar files"), zip_);
    form->addRow(QStringLiteral("Cabinets"), cab_);
    form->addRow(QStringLiteral("Lha files"), lha_);
    form->addRow(QStringLiteral("Tarred files"), tar_);
    v->addWidget(box);
    v->addStretch(1);
    return page;
}

QWidget* PreferencesDialog::MakeExtractionPage() {
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* box = Group("Extracting options", page);
    auto* l = new QVBoxLayout(box);
    l->addWidget(useFolderNames_ = Check("Use folder names", box));
    l->addWidget(overwrite_ = Check("Overwrite existing files", box));
    l->addWidget(skipOlder_ = Check("Skip older files", box));
    v->addWidget(box);
    v->addStretch(1);
    return page;
}

QWidget* PreferencesDialog::MakeMailPage() {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    mailSystem_ = Radio("Use standard mail client", page);
    mailInternal_ = Radio("Use internal mail client", page);
    auto* group = new QButtonGroup(page);
    group->addButton(mailSystem_);
    group->addButton(mailInternal_);
    connect(mailInternal_, &QRadioButton::toggled, this, [this] { UpdateEnabling(); });
    mailHost_ = Edit("mailHost", page);
    mailUser_ = Edit("mailUser", page);
    mailUser_->setToolTip(QStringLiteral("The name this computer gives the mail server when it greets it (HELO)"));
    mailName_ = Edit("mailName", page);
    mailAddress_ = Edit("mailAddress", page);
    mailPort_ = new QSpinBox(page);
    mailPort_->setObjectName(QStringLiteral("mailPort"));
    mailPort_->setRange(1, 65535);
    // The same choices as the mail settings.
    mailSecurity_ = new QComboBox(page);
    mailSecurity_->setObjectName(QStringLiteral("mailSecurity"));
    mailSecurity_->addItem(QStringLiteral("None"), QStringLiteral("none"));
    mailSecurity_->addItem(QStringLiteral("STARTTLS"), QStringLiteral("starttls"));
    mailSecurity_->addItem(QStringLiteral("SMTPS (TLS from the start)"), QStringLiteral("smtps"));
    mailAuthUser_ = Edit("mailAuthUser", page);
    mailPassword_ = Edit("mailPassword", page);
    mailPassword_->setEchoMode(QLineEdit::Password);
    form->addRow(mailSystem_);
    form->addRow(mailInternal_);
    form->addRow(QStringLiteral("Mail (SMTP) server:"), mailHost_);
    form->addRow(QStringLiteral("Username:"), mailUser_);
    form->addRow(QStringLiteral("Name:"), mailName_);
    form->addRow(QStringLiteral("Email address:"), mailAddress_);
    form->addRow(QStringLiteral("Port:"), mailPort_);
    form->addRow(QStringLiteral("Security:"), mailSecurity_);
    form->addRow(QStringLiteral("User name (AUTH):"), mailAuthUser_);
    form->addRow(QStringLiteral("Password:"), mailPassword_);
    return page;
}

QWidget* PreferencesDialog::MakeFileTypesPage() {
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* box = Group("Filetypes", page);
    auto* l = new QVBoxLayout(box);
    types_ = new QListWidget(box);
    types_->setObjectName(QStringLiteral("fileTypes"));
    l->addWidget(types_);
    auto* buttons = new QHBoxLayout;
    auto* none = new QPushButton(QStringLiteral("Deselect all"), box);
    auto* all = new QPushButton(QStringLiteral("Select all"), box);
    none->setAutoDefault(false);
    all->setAutoDefault(false);
    auto tickAll = [this](bool on) {
        for (int i = 0; i < types_->count(); ++i)
            types_->item(i)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    };
    connect(none, &QPushButton::clicked, this, [tickAll] { tickAll(false); });
    connect(all, &QPushButton::clicked, this, [tickAll] { tickAll(true); });
    buttons->addWidget(none);
    buttons->addWidget(all);
    buttons->addStretch(1);
    l->addLayout(buttons);
    v->addWidget(box);
    return page;
}

QWidget* PreferencesDialog::MakeShellPage() {
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    grid->addWidget(shellOn_ = Check("Activate Shell Extensions", page), 0, 0);
    grid->addWidget(cascaded_ = Check("Cascaded menu", page), 1, 0);
    grid->addWidget(showIcons_ = Check("Display Icon in menu", page), 2, 0);

    auto* types = Group("Show \"Add to\" for the following archive types", page);
    auto* t = new QVBoxLayout(types);
    t->addWidget(addZip_ = Check("Zip", types));
    t->addWidget(addBh_ = Check("Blakhole", types));
    t->addWidget(addCab_ = Check("Cabinet", types));
    t->addWidget(addLha_ = Check("Lha", types));
    t->addWidget(addJar_ = Check("Jar", types));
    t->addWidget(addTar_ = Check("GZip", types));

    auto* items = Group("Shell extension items", page);
    auto* i = new QVBoxLayout(items);
    i->addWidget(extractHere_ = Check("Extract to current folder", items));
    i->addWidget(extractTo_ = Check("Extract to custom folder", items));
    i->addWidget(extractToFolder_ = Check("Extract to subfolder", items));
    i->addWidget(createExe_ = Check("Create Exe from Zip", items));
    i->addWidget(addTo_ = Check("Add to archive", items));
    i->addWidget(add_ = Check("Add to archive with options", items));
    i->addWidget(email_ = Check("Send as Email", items));
    i->addWidget(test_ = Check("Test archive(s)", items));

    auto* note = new QLabel(
        QStringLiteral("The items appear in the context menus of Dolphin, Nautilus, Nemo and Thunar."), page);
    note->setWordWrap(true);
    grid->addWidget(types, 3, 0);
    grid->addWidget(items, 3, 1);
    grid->addWidget(note, 4, 0, 1, 2);
    grid->setRowStretch(5, 1);
    return page;
}

QWidget* PreferencesDialog::MakeAutoUpdatePage() {
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* box = Group("AutoUpdate", page);
    auto* b = new QGridLayout(box);
    b->addWidget(updateOff_ = Radio("Deactivate AutoUpdate", box), 0, 0);
    b->addWidget(updateOn_ = Radio("Check for Update...", box), 1, 0);
    period_ = Combo("periodCombo", {"once a day", "once a week", "once a month"}, box);
    b->addWidget(period_, 1, 1);
    connect(updateOn_, &QRadioButton::toggled, this, [this] { UpdateEnabling(); });
    v->addWidget(box);

    auto* options = Group("AutoUpdate Options", page);
    auto* form = new QFormLayout(options);
    proxy_ = Edit("proxyEdit", options);
    proxyPort_ = Edit("portEdit", options);
    form->addRow(QStringLiteral("Proxyserver"), proxy_);
    form->addRow(QStringLiteral("Port"), proxyPort_);
    v->addWidget(options);

    checkNow_ = new QPushButton(QStringLiteral("&Check for Update NOW"), page);
    checkNow_->setAutoDefault(false);
    connect(checkNow_, &QPushButton::clicked, this, [this] {
        Store();
        auto [host, port] = model_.CheckNowProxy();
        if (port < 0) {
            Notify(QStringLiteral("Error"), MessageText(app::ProxyPortFieldError(model_.autoUpdate.port)));
            proxyPort_->setFocus();
            return;
        }
        if (OnCheckNow) OnCheckNow(host, port);
    });
    auto* row = new QHBoxLayout;
    row->addWidget(checkNow_);
    row->addStretch(1);
    v->addLayout(row);
    v->addStretch(1);
    return page;
}

// ---------------------------------------------------------------------------------------------------------------
// Model <-> controls

void PreferencesDialog::Fill() {
    const app::PreferencesModel& m = model_;
    rowSelect_->setChecked(m.view.rowSelect);
    gridLines_->setChecked(m.view.gridLines);
    (m.view.singleClick ? singleClick_ : doubleClick_)->setChecked(true);
    underlineHot_->setChecked(m.view.underlineHot);
    underlineAlways_->setChecked(m.view.underlineAlways);
    toolbar_->setChecked(m.view.toolbar);
    statusbar_->setChecked(m.view.statusbar);
    for (size_t c = 0; c < columns_.size(); ++c)
        columns_[c]->setChecked(c == app::colName || m.view.columns[c]);
    dirEntries_->setChecked(m.view.dirEntries);

    (m.folders.tempSystem ? tempSystem_ : tempOther_)->setChecked(true);
    temp_->setText(Q(m.folders.temp));
    (m.folders.openLast ? openLast_ : openOther_)->setChecked(true);
    open_->setText(Q(m.folders.open));
    (m.folders.extractLast ? extractLast_ : extractOther_)->setChecked(true);
    extract_->setText(Q(m.folders.extract));
    favourite_->setText(Q(m.folders.favourite));

    (m.misc.viewerOther ? viewerOther_ : viewerSystem_)->setChecked(true);
    viewer_->setText(Q(m.misc.viewer));
    (m.misc.iniExtra ? iniExtra_ : iniApp_)->setChecked(true);
    iniFolder_->setText(Q(m.misc.iniFolder));

    zip_->setCurrentIndex(m.compression.zip);
    cab_->setCurrentIndex(m.compression.cab);
    lha_->setCurrentIndex(m.compression.lha);
    tar_->setCurrentIndex(m.compression.tar);

    useFolderNames_->setChecked(m.extraction.useFolderNames);
    overwrite_->setChecked(m.extraction.overwrite);
    skipOlder_->setChecked(m.extraction.skipOlder);

    (m.mail.internal ? mailInternal_ : mailSystem_)->setChecked(true);
    mailHost_->setText(Q(m.mail.host));
    mailUser_->setText(Q(m.mail.user));
    mailName_->setText(Q(m.mail.name));
    mailAddress_->setText(Q(m.mail.address));
    mailPort_->setValue(m.mail.port);
    mailSecurity_->setCurrentIndex(mailSecurity_->findData(
        QString::fromLatin1(mail::SecurityText(mail::SecurityFromText(m.mail.security)))));
    mailAuthUser_->setText(Q(m.mail.authUser));
    mailPassword_->setText(Q(m.mail.password));

    const app::ShellSwitches& s = m.shell;
    shellOn_->setChecked(s.ShellExtension);
    cascaded_->setChecked(s.Cascaded);
    showIcons_->setChecked(s.ShowIcons);
    addZip_->setChecked(s.AddZip);
    addBh_->setChecked(s.AddBh);
    addCab_->setChecked(s.AddCab);
    addLha_->setChecked(s.AddLha);
    addJar_->setChecked(s.AddJar);
    addTar_->setChecked(s.AddTar);
    extractHere_->setChecked(s.ExtractHere);
    extractTo_->setChecked(s.ExtractTo);
    extractToFolder_->setChecked(s.ExtractToFolder);
    createExe_->setChecked(s.CreateExe);
    addTo_->setChecked(s.AddTo);
    add_->setChecked(s.Add);
    email_->setChecked(s.Email);
    test_->setChecked(s.Test);

    (m.autoUpdate.active ? updateOn_ : updateOff_)->setChecked(true);
    period_->setCurrentIndex(m.autoUpdate.period);
    proxy_->setText(Q(m.autoUpdate.proxy));
    proxyPort_->setText(Q(m.autoUpdate.port));
}

void PreferencesDialog::Store() {
    app::PreferencesModel& m = model_;
    m.view.rowSelect = rowSelect_->isChecked();
    m.view.gridLines = gridLines_->isChecked();
    m.view.singleClick = singleClick_->isChecked();
    m.view.underlineHot = underlineHot_->isChecked();
    m.view.underlineAlways = underlineAlways_->isChecked();
    m.view.toolbar = toolbar_->isChecked();
    m.view.statusbar = statusbar_->isChecked();
    for (size_t c = 0; c < columns_.size(); ++c)
        m.view.columns[c] = columns_[c]->isChecked();
    m.view.dirEntries = dirEntries_->isChecked();

    m.folders.tempSystem = tempSystem_->isChecked();
    m.folders.temp = S(temp_->text());
    m.folders.openLast = openLast_->isChecked();
    m.folders.open = S(open_->text());
    m.folders.extractLast = extractLast_->isChecked();
    m.folders.extract = S(extract_->text());
    m.folders.favourite = S(favourite_->text());

    m.misc.viewerOther = viewerOther_->isChecked();
    m.misc.viewer = S(viewer_->text());
    m.misc.iniExtra = iniExtra_->isChecked();
    m.misc.iniFolder = S(iniFolder_->text());

    m.compression.zip = zip_->currentIndex();
    m.compression.cab = cab_->currentIndex();
    m.compression.lha = lha_->currentIndex();
    m.compression.tar = tar_->currentIndex();

    m.extraction.useFolderNames = useFolderNames_->isChecked();
    m.extraction.overwrite = overwrite_->isChecked();
    m.extraction.skipOlder = skipOlder_->isChecked();

    m.mail.internal = mailInternal_->isChecked();
    m.mail.host = S(mailHost_->text());
    m.mail.user = S(mailUser_->text());
    m.mail.name = S(mailName_->text());
    m.mail.address = S(mailAddress_->text());
    m.mail.port = mailPort_->value();
    m.mail.security = S(mailSecurity_->currentData().toString());
    m.mail.authUser = S(mailAuthUser_->text());
    m.mail.password = S(mailPassword_->text());

    if (m.fileTypes.loaded) {
        m.fileTypes.ticked.assign(static_cast<size_t>(types_->count()), false);
        for (int i = 0; i < types_->count(); ++i)
            m.fileTypes.ticked[static_cast<size_t>(i)] = types_->item(i)->checkState() == Qt::Checked;
    }

    app::ShellSwitches& s = m.shell;  // DropHandler has no control and stays as read
    s.ShellExtension = shellOn_->isChecked();
    s.Cascaded = cascaded_->isChecked();
    s.ShowIcons = showIcons_->isChecked();
    s.AddZip = addZip_->isChecked();
    s.AddBh = addBh_->isChecked();
    s.AddCab = addCab_->isChecked();
    s.AddLha = addLha_->isChecked();
    s.AddJar = addJar_->isChecked();
    s.AddTar = addTar_->isChecked();
    s.ExtractHere = extractHere_->isChecked();
    s.ExtractTo = extractTo_->isChecked();
    s.ExtractToFolder = extractToFolder_->isChecked();
    s.CreateExe = createExe_->isChecked();
    s.AddTo = addTo_->isChecked();
    s.Add = add_->isChecked();
    s.Email = email_->isChecked();
    s.Test = test_->isChecked();

    m.autoUpdate.active = updateOn_->isChecked();
    m.autoUpdate.period = period_->currentIndex();
    m.autoUpdate.proxy = S(proxy_->text());
    m.autoUpdate.port = S(proxyPort_->text());
}

void PreferencesDialog::UpdateEnabling() {
    const bool single = singleClick_->isChecked();
    underlineHot_->setEnabled(single);
    underlineAlways_->setEnabled(single);
    for (auto [other, edit, browse] : {std::tuple{tempOther_, temp_, tempBrowse_},
                                       std::tuple{openOther_, open_, openBrowse_},
                                       std::tuple{extractOther_, extract_, extractBrowse_},
                                       std::tuple{viewerOther_, viewer_, viewerBrowse_},
                                       std::tuple{iniExtra_, iniFolder_, iniBrowse_}}) {
        edit->setEnabled(other->isChecked());
        browse->setEnabled(other->isChecked());
    }
    const bool internal = mailInternal_->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{mailHost_, mailUser_, mailName_, mailAddress_, mailPort_,
                                                      mailSecurity_, mailAuthUser_, mailPassword_})
        w->setEnabled(internal);
    period_->setEnabled(updateOn_->isChecked());
}

void PreferencesDialog::PageShown(int index) {
    if (index != static_cast<int>(PreferencesPage::Filetypes) || types_->count() > 0) return;
    if (!model_.fileTypes.loaded && OnFileTypesShown) OnFileTypesShown();
    if (!model_.fileTypes.loaded) return;
    const auto& rows = app::AssociationRows();
    for (size_t i = 0; i < rows.size(); ++i) {
        auto* item = new QListWidgetItem(Q(rows[i].caption), types_);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        const bool ticked = i < model_.fileTypes.ticked.size() && model_.fileTypes.ticked[i];
        item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    }
}

void PreferencesDialog::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    PageShown(pageList_->currentRow());
}

void PreferencesDialog::ShowPage(PreferencesPage p) {
    const int index = static_cast<int>(p);
    if (pageList_->currentRow() == index)
        PageShown(index);
    else
        pageList_->setCurrentRow(index);
}

PreferencesPage PreferencesDialog::CurrentPage() const {
    return static_cast<PreferencesPage>(stack_->currentIndex());
}

QWidget* PreferencesDialog::Page(PreferencesPage p) const {
    return stack_->widget(static_cast<int>(p));
}

QWidget* PreferencesDialog::FieldOfStep(int step) const {
    switch (step) {
        case 1: return iniFolder_;
        case 3: return viewer_;
        case 4: return open_;
        case 5: return extract_;
        case 6: return temp_;
        case 16: return proxyPort_;
        default: return ok_;
    }
}

// ---------------------------------------------------------------------------------------------------------------
// OK and closing

void PreferencesDialog::accept() {
    Store();
    if (OnApply) {
        const app::PreferencesResult r = OnApply();
        if (!r.ok) {
            // The dialog stays open at the field that stopped OK.
            ShowPage(r.page);
            Notify(QStringLiteral("Error"), MessageText(r.error));
            FieldOfStep(r.stoppedAt)->setFocus();
            return;
        }
        if (!r.warnings.empty()) {
            QStringList lines;
            for (const auto& w : r.warnings)
                lines << Q(w);
            Notify(QStringLiteral("Error"), lines.join(QLatin1Char('\n')));
        }
    }
    QDialog::accept();
}

void PreferencesDialog::done(int r) {
    if (!closed_) {
        closed_ = true;
        Store();
        if (OnClose) OnClose();
    }
    QDialog::done(r);
}

}  // namespace varnok::ui
