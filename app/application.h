// Start and end of the application without its windows: the settings file and registry values, the folders
// (work, temporary, last-open, extract), the compression defaults, the association check, the open-archive
// model and what is saved at exit.
#pragma once

#include <memory>
#include <string>

#include "app/archive_model.h"
#include "app/associations.h"
#include "app/registry.h"
#include "app/settings.h"
#include "app/view.h"

namespace varnok::app {

struct ApplicationFolders {
    std::string config;      // holds varnok.ini and registry.ini
    std::string configHome;  // $XDG_CONFIG_HOME (mimeapps.list)
    std::string dataHome;    // $XDG_DATA_HOME (desktop entries)
    std::string program;     // the executable's full path
    // The folders of this user and program.
    static ApplicationFolders ForUser();
};

class Application {
  public:
    Application(ArchiveView& view, ApplicationFolders folders = ApplicationFolders::ForUser());
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Opens the settings and reads every key; writes the registry value App; checks the folders; applies and
    // saves the compression defaults; makes this session's temporary folder.
    void Start();
    // The start-up association check (the caller shows the dialog for AssociationAction::Dialog).
    AssociationAction CheckAssociations();
    // Writes what is kept at exit, closes the archive, removes this session's temporary files.
    void Exit();

    Settings& Config() { return settings_; }
    SettingsStore& Store() { return store_; }
    IniFile& Ini() { return store_.Ini(); }
    RegistryStore& Registry() { return *registry_; }
    Associations& FileAssociations() { return *associations_; }
    ArchiveModel& Model() { return *model_; }
    const ApplicationFolders& Folders() const { return folders_; }
    // The temporary work folder (with "/").
    std::string TempFolder() const;
    // This session's own folder inside the temporary folder (removed at exit).
    const std::string& SessionTemp() const { return sessionTemp_; }
    // What the compression keys gave at start.
    const CompressionDefaults& Compression() const { return compression_; }
    // New compression defaults (the Preferences dialog's OK).
    void SetCompression(const CompressionDefaults& c) { compression_ = c; }

  private:
    ArchiveView& view_;
    ApplicationFolders folders_;
    Settings settings_;
    SettingsStore store_;
    std::unique_ptr<RegistryStore> registry_;
    std::unique_ptr<Associations> associations_;
    std::unique_ptr<ArchiveModel> model_;
    std::string sessionTemp_;
    CompressionDefaults compression_;
    bool started_ = false;
};

}  // namespace varnok::app
