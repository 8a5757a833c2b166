// The persistent settings of the application: every key of the settings file "varnok.ini" with its default,
// the relocation of the file (LocalIni / IniPath), the two history lists and the compression defaults.
//
// The file normally lives in the application's configuration folder ($XDG_CONFIG_HOME/varnok/varnok.ini).
// When that file holds LocalIni=1 in [Settings], the file really used is "varnok.ini" in the folder of
// IniPath, and the configuration-folder file keeps only the two redirect keys.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/ini_file.h"
#include "app/placement.h"

namespace varnok::app {

inline constexpr const char* kIniName = "varnok.ini";
inline constexpr int kColumnCount = 9;
inline constexpr int kHistorySlots = 5;
inline constexpr int kDefaultColumnWidthMarker = 65535;

// The captions of the entry list's columns (also the keys of [ZipList]).
extern const std::array<const char*, kColumnCount> kColumnCaptions;
// Widths used for a column stored as 65535 ("default"), chosen for the list's font.
extern const std::array<int, kColumnCount> kDefaultColumnWidths;
// The archive extensions of [FileAssociation] (".ace" is written only).
extern const std::vector<std::string> kAssociationKeys;

// A list of five recent texts, newest first; empty slots are empty texts.
class History {
  public:
    // Puts text in slot 1 unless it is already in one of the slots (then the order stays); the oldest drops
    // out. False when nothing changed. Empty texts are not pushed.
    bool Push(const std::string& text);
    // Replaces an entry (compared exactly) in place; false when it is not there.
    bool Replace(const std::string& oldText, const std::string& newText);
    const std::array<std::string, kHistorySlots>& Slots() const { return slots_; }
    std::array<std::string, kHistorySlots>& Slots() { return slots_; }

  private:
    std::array<std::string, kHistorySlots> slots_;
};

struct ColumnSetting {
    int width = kDefaultColumnWidthMarker;  // 65535: the default width; 0: hidden
    int index = 0;                          // display position
};

// Compression choices derived from the four [Compression] keys.
enum class WriterMethod { Unchanged, Store, Deflate, Fuse, Lzx, MsZip, Quantum, Frozen6, Tarred, GzipTar };
enum class DeflateType { None, S, F, N, X };
struct CompressionDefaults {
    int zipAddCompLevel = 9;  // ZIP bridge AddCompLevel
    WriterMethod bhJarMethod = WriterMethod::Deflate;
    DeflateType bhJarDeflate = DeflateType::X;
    WriterMethod cabMethod = WriterMethod::MsZip;
    WriterMethod lhaMethod = WriterMethod::Frozen6;
    WriterMethod tarMethod = WriterMethod::GzipTar;
};
// The table of zipCR / cabCR / lhaCR / tarCR; out-of-range values leave that writer's method Unchanged.
CompressionDefaults CompressionFromKeys(int zipCR, int cabCR, int lhaCR, int tarCR);

// Every setting of the file. Folder values are paths of this system (with a trailing "/").
struct Settings {
    // [Settings]
    bool LocalIni = false;
    std::string IniPath;  // default: the home folder
    bool OpenLast = true;
    bool ExtractLast = true;
    bool SysTemp = true;
    bool optZipDirs = true;
    bool optOverwrite = true;
    bool optUpdate = true;
    std::string View = "2";
    std::string ViewProg;
    std::string Packrate;  // written by the Preferences dialog only
    std::string StartUp;   // written by the Preferences dialog only
    // [Visual]
    bool RowSelect = false, GridLines = false, SingleClick = false, MousePoint = false, AlwaysUnder = false;
    // [Directories]
    std::string Open, Extract, Temp, optFavFolder;
    // [Mail]
    bool InternalMail = true;
    std::string MailHost, MailUserID, MailName, MailAddress;
    int MailPort = 25;
    std::string MailSecurity = "starttls";  // "none", "starttls" or "smtps"
    // AUTH name and password (the password is kept in this file, which only its owner can read, and is
    // never logged); empty name: no AUTH.
    std::string MailAuthUser, MailPassword;
    std::string MailCaFile;  // certificates to trust for the mail server instead of the system's
    // [Toolbar]
    std::string Docked = "vnDockTop";
    int ToolbarLeft = 0, ToolbarTop = 0;
    int tbVisible = 1;
    bool tbShowText = false, tbToolTips = true, tbFlat = true;
    int sbVisible = 1;
    // [Log]
    int tbLogVisible = 1;
    int tbLogLeft = 1, tbLogTop = 1, tbLogWidth = 500;
    int tbLogHeight = -1;  // -1: absent (87 floating, 66 docked)
    // [ZipList]
    std::array<ColumnSetting, kColumnCount> Columns{};
    bool ShowDirEntry = false;
    // Decompression-bomb limits of every extraction: the most an entry may grow over its packed size (0: no
    // limit) and the most one extraction writes, in MiB (0: the destination's free space).
    uint64_t MaxRatio = 1'000'000;
    uint64_t MaxSizeMiB = 0;
    // [Update]
    bool CheckNewVersion = true;
    // [Compression]
    int zipCR = 4, cabCR = 2, lhaCR = 1, tarCR = 1;
    // [History]
    History OpenHistory, ExtractHistory;
    // [Position]
    bool HasPosition = false;  // x and y were stored
    int X = 0, Y = 0, Width = kDefaultWindowWidth, Height = kDefaultWindowHeight;
    bool Maximized = false;
    // [AutoUpd]
    bool AutoUpd = true;
    double LastCheck = 0;
    int CheckPeriod = 1;
    std::string Proxy;
    std::string ProxyPort = "80";
    std::string HomeURL;     // the version page; empty: no update check (the program ships no address)
    bool AllowHttp = false;  // a plain-http version page accepted
    std::string UpdCaFile;   // certificates to trust for the version page instead of the system's
    // [FileAssociation]
    bool Associate = true;
    bool NoDialog = false;

    Settings();
    // Reads every key (absent keys take their defaults).
    void Load(const IniFile& ini);
    // Writes what is saved at exit.
    void SaveAtExit(IniFile& ini) const;
    // Rewrites the whole [History] section.
    void SaveHistory(IniFile& ini) const;
    void SaveCompression(IniFile& ini) const;
    // Writes the [Mail] keys.
    void SaveMail(IniFile& ini) const;
    // Writes the [AutoUpd] keys.
    void SaveAutoUpd(IniFile& ini) const;

    // The temporary work folder: the system's when SysTemp, else Temp; with a trailing "/".
    std::string TempFolder() const;
    // The log pane height to use (the default depends on floating).
    int LogHeight(bool floating) const;
    // The proxy port as a number: a value that is not a number counts as 80.
    int ProxyPortNumber() const;
    CompressionDefaults Compression() const { return CompressionFromKeys(zipCR, cabCR, lhaCR, tarCR); }
    // The width a column is shown with (the default for 65535).
    int ColumnWidth(int col) const;
};

// The open settings file and its relocation. Holds the file from start to exit.
class SettingsStore {
  public:
    // baseDir: the configuration folder holding the normal "varnok.ini" (AppConfigDir() in the program).
    explicit SettingsStore(std::string baseDir);

    // Opens the normal file; when it says LocalIni=1 the relocated file is created (its folder with all
    // parents) and opened instead.
    void Open();
    IniFile& Ini() { return *ini_; }
    const IniFile& Ini() const { return *ini_; }
    const std::string& BaseDir() const { return baseDir_; }
    std::string BaseIniPath() const;
    // Whether the open file is a relocated one.
    bool Relocated() const;

    enum class Location { ProgramFolder, Extra };
    // Switches the settings file. ProgramFolder: the normal file becomes the settings file and gets
    // LocalIni=0 and IniPath=path. Extra: the folder of path is created; the normal file gets LocalIni=1 and
    // IniPath=path; the file "varnok.ini" in the folder of path becomes the settings file. False when a file
    // cannot be written.
    bool Switch(Location where, const std::string& path);

  private:
    std::string baseDir_;
    std::unique_ptr<IniFile> ini_;
};

}  // namespace varnok::app
