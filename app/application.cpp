#include "app/application.h"

#include <cstdio>

#include "app/paths.h"
#include "app/shell_actions.h"
#include "platform/drive.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"

namespace varnok::app {

ApplicationFolders ApplicationFolders::ForUser() {
    return {AppConfigDir(), ConfigHome(), DataHome(), ProgramPath()};
}

namespace {

// The icon a user's desktop entry names: the program's own when it is installed with it (PREFIX/bin/varnok beside
// PREFIX/share/icons/hicolor), since that entry stands in for the installed one in the menus; the theme's archive
// icon for a program without an installed icon (run from its build tree).
std::string IconNameFor(const std::string& program) {
    const std::string apps = AbsoluteFolder(ParentFolder(program) + "../share/icons/hicolor/scalable/apps");
    return platform::FileExists(apps + "/varnok.svg") ? "varnok" : std::string();
}

}  // namespace

Application::Application(ArchiveView& view, ApplicationFolders folders)
    : view_(view), folders_(std::move(folders)), store_(folders_.config) {
    model_ = std::make_unique<ArchiveModel>(settings_, view_);
}

Application::~Application() {
    if (started_) Exit();
}

std::string Application::TempFolder() const {
    return settings_.TempFolder();
}

void Application::Start() {
    store_.Open();
    settings_.Load(store_.Ini());
    registry_ = std::make_unique<RegistryStore>(folders_.config);
    registry_->WriteAppPath(folders_.program);
    associations_ = std::make_unique<Associations>(folders_.dataHome, folders_.configHome, folders_.program,
                                                   IconNameFor(folders_.program));

    // The file managers' actions follow the shell-extension switches from the first start on (they are on
    // unless the user turned them off): missing ones, or ones that call a program moved since, are written.
    // Turning the switches off in Preferences removes them.
    {
        const ShellSwitches shell = ReadShellSwitches(*registry_);
        ShellActions actions(folders_.dataHome, folders_.configHome, folders_.program);
        std::string why;
        if (!actions.Current(shell) && !actions.Install(shell, &why))
            fprintf(stderr, "varnok: the file managers' actions could not be written: %s\n", why.c_str());
    }

    // Folders that are gone fall back to the home folder; so does a last-open folder on a removable disk.
    if (!platform::DirectoryExists(settings_.Extract)) settings_.Extract = DefaultRootFolder();
    if (!platform::DirectoryExists(settings_.Open) ||
        platform::QueryDrive(settings_.Open).kind == platform::dkRemovable)
        settings_.Open = DefaultRootFolder();

    compression_ = settings_.Compression();
    settings_.SaveCompression(store_.Ini());
    store_.Ini().Flush();

    std::string temp = TempFolder();
    if (!platform::DirectoryExists(temp)) temp = DefaultTempFolder();
    sessionTemp_ = platform::CreateTempDir(WithoutSlash(temp), "varnok-");
    model_->SetSettingsFile(&store_.Ini());
    model_->SetSessionTempDir(sessionTemp_);
    model_->Bridge().TempDir = temp;
    started_ = true;
}

AssociationAction Application::CheckAssociations() {
    if (!associations_) return AssociationAction::None;
    return RunAssociationCheck(*associations_, store_.Ini(), settings_);
}

void Application::Exit() {
    if (!started_) return;
    started_ = false;
    settings_.SaveAtExit(store_.Ini());
    store_.Ini().Flush();
    model_->Close();
    if (!sessionTemp_.empty()) platform::RemoveTree(sessionTemp_);
}

}  // namespace varnok::app
