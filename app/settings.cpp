#include "app/settings.h"

#include <cmath>
#include <cstdlib>

#include "app/paths.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"

namespace varnok::app {

const std::array<const char*, kColumnCount> kColumnCaptions = {"Name", "Type", "Size", "Packed",    "Ratio",
                                                               "Date", "Path", "CRC",  "Attributes"};
// Wide enough for the captions and typical contents in the list's font.
const std::array<int, kColumnCount> kDefaultColumnWidths = {220, 150, 90, 90, 55, 150, 180, 80, 80};

const std::vector<std::string> kAssociationKeys = {".arc", ".arj", ".bh",  ".cab", ".vca", ".gz",  ".lha",
                                                   ".lzh", ".jar", ".pak", ".rar", ".tar", ".uue", ".uu",
                                                   ".enc", ".xxe", ".z",   ".zoo", ".zip", ".ace"};

namespace {

const char* const kSettings = "Settings";
const char* const kVisual = "Visual";
const char* const kDirs = "Directories";
const char* const kMail = "Mail";
const char* const kToolbar = "Toolbar";
const char* const kLog = "Log";
const char* const kZipList = "ZipList";
const char* const kUpdate = "Update";
const char* const kCompression = "Compression";
const char* const kHistory = "History";
const char* const kPosition = "Position";
const char* const kAutoUpd = "AutoUpd";
const char* const kAssoc = "FileAssociation";

std::string FlagText(bool b) {
    return b ? "1" : "0";
}

int Clamp32(int64_t v) {
    if (v > 1000000000) return 1000000000;
    if (v < -1000000000) return -1000000000;
    return static_cast<int>(v);
}

// A count that cannot be negative; a negative or unreadable value is the default.
uint64_t ReadCount(const IniFile& ini, const std::string& section, const std::string& key, uint64_t def) {
    const int64_t v = ini.ReadInteger(section, key, static_cast<int64_t>(def));
    return v < 0 ? def : static_cast<uint64_t>(v);
}

// "width,index" of a [ZipList] key.
ColumnSetting ParseColumn(const std::string& text, int col) {
    ColumnSetting c;
    c.index = col;
    size_t comma = text.find(',');
    std::string w = text.substr(0, comma);
    char* end = nullptr;
    long v = std::strtol(w.c_str(), &end, 10);
    if (end && end != w.c_str() && *end == 0 && v >= 0 && v <= 65535) c.width = static_cast<int>(v);
    if (comma != std::string::npos) {
        std::string i = text.substr(comma + 1);
        long n = std::strtol(i.c_str(), &end, 10);
        if (end && end != i.c_str() && *end == 0 && n >= 0 && n < kColumnCount) c.index = static_cast<int>(n);
    }
    return c;
}

}  // namespace

bool History::Push(const std::string& text) {
    if (text.empty()) return false;
    for (const auto& s : slots_)
        if (s == text) return false;
    for (int i = kHistorySlots - 1; i > 0; --i)
        slots_[i] = slots_[i - 1];
    slots_[0] = text;
    return true;
}

bool History::Replace(const std::string& oldText, const std::string& newText) {
    for (auto& s : slots_) {
        if (s == oldText) {
            s = newText;
            return true;
        }
    }
    return false;
}

CompressionDefaults CompressionFromKeys(int zipCR, int cabCR, int lhaCR, int tarCR) {
    CompressionDefaults d;
    static const int kLevels[] = {0, 3, 5, 7, 9};
    static const DeflateType kTypes[] = {DeflateType::None, DeflateType::S, DeflateType::F, DeflateType::N,
                                         DeflateType::X};
    if (zipCR >= 0 && zipCR <= 4) {
        d.zipAddCompLevel = kLevels[zipCR];
        d.bhJarMethod = zipCR == 0 ? WriterMethod::Store : WriterMethod::Deflate;
        d.bhJarDeflate = kTypes[zipCR];
    } else {
        d.bhJarMethod = WriterMethod::Unchanged;
        d.bhJarDeflate = DeflateType::None;
    }
    static const WriterMethod kCab[] = {WriterMethod::Store, WriterMethod::Lzx, WriterMethod::MsZip,
                                        WriterMethod::Quantum};
    d.cabMethod = cabCR >= 0 && cabCR <= 3 ? kCab[cabCR] : WriterMethod::Unchanged;
    d.lhaMethod = lhaCR == 0   ? WriterMethod::Store
                  : lhaCR == 1 ? WriterMethod::Frozen6
                               : WriterMethod::Unchanged;
    d.tarMethod = tarCR == 0   ? WriterMethod::Tarred
                  : tarCR == 1 ? WriterMethod::GzipTar
                               : WriterMethod::Unchanged;
    return d;
}

Settings::Settings() {
    IniPath = DefaultRootFolder();
    Open = DefaultRootFolder();
    Extract = DefaultRootFolder();
    Temp = DefaultTempFolder();
    for (int i = 0; i < kColumnCount; ++i)
        Columns[i] = {kDefaultColumnWidthMarker, i};
}

void Settings::Load(const IniFile& ini) {
    LocalIni = ini.ReadBool(kSettings, "LocalIni", false);
    IniPath = NativeFolder(ini.ReadString(kSettings, "IniPath", DefaultRootFolder()));
    OpenLast = ini.ReadFlag(kSettings, "OpenLast", true);
    ExtractLast = ini.ReadFlag(kSettings, "ExtractLast", true);
    SysTemp = ini.ReadBool(kSettings, "SysTemp", true);
    optZipDirs = ini.ReadFlag(kSettings, "optZipDirs", true);
    optOverwrite = ini.ReadFlag(kSettings, "optOverwrite", true);
    optUpdate = ini.ReadFlag(kSettings, "optUpdate", true);
    View = ini.ReadString(kSettings, "View", "2");
    ViewProg = ini.ReadString(kSettings, "ViewProg", "");
    Packrate = ini.ReadString(kSettings, "Packrate", "");
    StartUp = ini.ReadString(kSettings, "StartUp", "");

    RowSelect = ini.ReadFlag(kVisual, "RowSelect", false);
    GridLines = ini.ReadFlag(kVisual, "GridLines", false);
    SingleClick = ini.ReadFlag(kVisual, "SingleClick", false);
    MousePoint = ini.ReadFlag(kVisual, "MousePoint", false);
    AlwaysUnder = ini.ReadFlag(kVisual, "AlwaysUnder", false);

    Open = WithSlash(NativeFolder(ini.ReadString(kDirs, "Open", DefaultRootFolder())));
    Extract = WithSlash(NativeFolder(ini.ReadString(kDirs, "Extract", DefaultRootFolder())));
    Temp = WithSlash(NativeFolder(ini.ReadString(kDirs, "Temp", DefaultTempFolder())));
    std::string fav = ini.ReadString(kDirs, "optFavFolder", "");
    optFavFolder = fav.empty() ? fav : NativeFolder(fav);

    InternalMail = ini.ReadFlag(kMail, "InternalMail", true);
    MailHost = ini.ReadString(kMail, "MailHost", "");
    MailUserID = ini.ReadString(kMail, "MailUserID", "");
    MailName = ini.ReadString(kMail, "MailName", "");
    MailAddress = ini.ReadString(kMail, "MailAddress", "");
    MailPort = Clamp32(ini.ReadInteger(kMail, "MailPort", 25));
    if (MailPort <= 0 || MailPort > 65535) MailPort = 25;
    MailSecurity = ini.ReadString(kMail, "MailSecurity", "starttls");
    MailAuthUser = ini.ReadString(kMail, "MailAuthUser", "");
    MailPassword = ini.ReadString(kMail, "MailPassword", "");
    MailCaFile = ini.ReadString(kMail, "MailCaFile", "");

    Docked = ini.ReadString(kToolbar, "Docked", "vnDockTop");
    ToolbarLeft = Clamp32(ini.ReadInteger(kToolbar, "Left", 0));
    ToolbarTop = Clamp32(ini.ReadInteger(kToolbar, "Top", 0));
    tbVisible = Clamp32(ini.ReadInteger(kToolbar, "tbVisible", 1));
    tbShowText = ini.ReadBool(kToolbar, "tbShowText", false);
    tbToolTips = ini.ReadBool(kToolbar, "tbToolTips", true);
    tbFlat = ini.ReadBool(kToolbar, "tbFlat", true);
    sbVisible = Clamp32(ini.ReadInteger(kToolbar, "sbVisible", 1));

    tbLogVisible = Clamp32(ini.ReadInteger(kLog, "tbLogVisible", 1));
    tbLogLeft = Clamp32(ini.ReadInteger(kLog, "tbLogLeft", 1));
    tbLogTop = Clamp32(ini.ReadInteger(kLog, "tbLogTop", 1));
    tbLogWidth = Clamp32(ini.ReadInteger(kLog, "tbLogWidth", 500));
    tbLogHeight = Clamp32(ini.ReadInteger(kLog, "tbLogHeight", -1));

    for (int i = 0; i < kColumnCount; ++i) {
        std::string def = std::to_string(kDefaultColumnWidthMarker) + "," + std::to_string(i);
        Columns[i] = ParseColumn(ini.ReadString(kZipList, kColumnCaptions[i], def), i);
    }
    ShowDirEntry = ini.ReadBool(kZipList, "ShowDirEntry", false);
    MaxRatio = ReadCount(ini, kSettings, "MaxRatio", 1'000'000);
    MaxSizeMiB = ReadCount(ini, kSettings, "MaxSizeMiB", 0);

    CheckNewVersion = ini.ReadBool(kUpdate, "CheckNewVersion", true);

    zipCR = Clamp32(ini.ReadInteger(kCompression, "zipCR", 4));
    cabCR = Clamp32(ini.ReadInteger(kCompression, "cabCR", 2));
    lhaCR = Clamp32(ini.ReadInteger(kCompression, "lhaCR", 1));
    tarCR = Clamp32(ini.ReadInteger(kCompression, "tarCR", 1));

    for (int i = 0; i < kHistorySlots; ++i) {
        OpenHistory.Slots()[i] = ini.ReadString(kHistory, "Open" + std::to_string(i + 1), "");
        ExtractHistory.Slots()[i] = ini.ReadString(kHistory, "Ext" + std::to_string(i + 1), "");
    }

    HasPosition = ini.HasKey(kPosition, "x") && ini.HasKey(kPosition, "y");
    X = Clamp32(ini.ReadInteger(kPosition, "x", 0));
    Y = Clamp32(ini.ReadInteger(kPosition, "y", 0));
    Width = Clamp32(ini.ReadInteger(kPosition, "width", kDefaultWindowWidth));
    Height = Clamp32(ini.ReadInteger(kPosition, "height", kDefaultWindowHeight));
    Maximized = ini.ReadBool(kPosition, "maximized", false);

    AutoUpd = ini.ReadBool(kAutoUpd, "AutoUpd", true);
    LastCheck = ini.ReadFloat(kAutoUpd, "LastCheck", 0);
    CheckPeriod = Clamp32(ini.ReadInteger(kAutoUpd, "CheckPeriod", 1));
    Proxy = ini.ReadString(kAutoUpd, "Proxy", "");
    ProxyPort = ini.ReadString(kAutoUpd, "ProxyPort", "80");
    HomeURL = ini.ReadString(kAutoUpd, "HomeURL", "");
    AllowHttp = ini.ReadBool(kAutoUpd, "AllowHttp", false);
    UpdCaFile = ini.ReadString(kAutoUpd, "CaFile", "");

    Associate = ini.ReadBool(kAssoc, "Associate", true);
    NoDialog = ini.ReadBool(kAssoc, "NoDialog", false);
}

void Settings::SaveAtExit(IniFile& ini) const {
    ini.WriteString(kVisual, "RowSelect", FlagText(RowSelect));
    ini.WriteString(kVisual, "GridLines", FlagText(GridLines));
    ini.WriteString(kVisual, "SingleClick", FlagText(SingleClick));
    ini.WriteString(kVisual, "MousePoint", FlagText(MousePoint));
    ini.WriteString(kVisual, "AlwaysUnder", FlagText(AlwaysUnder));

    ini.WriteString(kDirs, "Open", Open);
    ini.WriteString(kDirs, "Extract", Extract);
    ini.WriteString(kDirs, "optFavFolder", optFavFolder);
    ini.WriteString(kDirs, "Temp", Temp);

    ini.WriteString(kSettings, "optZipDirs", FlagText(optZipDirs));
    ini.WriteString(kSettings, "optOverwrite", FlagText(optOverwrite));
    ini.WriteString(kSettings, "optUpdate", FlagText(optUpdate));

    ini.WriteInteger(kPosition, "x", X);
    ini.WriteInteger(kPosition, "y", Y);
    ini.WriteInteger(kPosition, "width", Width);
    ini.WriteInteger(kPosition, "height", Height);
    ini.WriteBool(kPosition, "maximized", Maximized);

    SaveMail(ini);

    ini.WriteString(kToolbar, "Docked", Docked);
    ini.WriteInteger(kToolbar, "Left", ToolbarLeft);
    ini.WriteInteger(kToolbar, "Top", ToolbarTop);
    ini.WriteInteger(kToolbar, "tbVisible", tbVisible);
    ini.WriteBool(kToolbar, "tbShowText", tbShowText);
    ini.WriteBool(kToolbar, "tbToolTips", tbToolTips);
    ini.WriteBool(kToolbar, "tbFlat", tbFlat);
    ini.WriteInteger(kToolbar, "sbVisible", sbVisible);
    ini.WriteBool(kToolbar, "LogVisible", tbLogVisible == 1 || tbLogVisible == 3);

    ini.WriteInteger(kLog, "tbLogVisible", tbLogVisible);
    ini.WriteInteger(kLog, "tbLogLeft", tbLogLeft);
    ini.WriteInteger(kLog, "tbLogTop", tbLogTop);
    ini.WriteInteger(kLog, "tbLogWidth", tbLogWidth);
    ini.WriteInteger(kLog, "tbLogHeight", LogHeight(tbLogVisible >= 2));

    for (int i = 0; i < kColumnCount; ++i)
        ini.WriteString(kZipList, kColumnCaptions[i],
                        std::to_string(Columns[i].width) + "," + std::to_string(Columns[i].index));
    ini.WriteBool(kZipList, "ShowDirEntry", ShowDirEntry);
    ini.WriteString(kSettings, "MaxRatio", std::to_string(MaxRatio));
    ini.WriteString(kSettings, "MaxSizeMiB", std::to_string(MaxSizeMiB));
    ini.WriteBool(kSettings, "SysTemp", SysTemp);
    ini.WriteBool(kUpdate, "CheckNewVersion", CheckNewVersion);
}

void Settings::SaveHistory(IniFile& ini) const {
    ini.EraseSection(kHistory);
    for (int i = 0; i < kHistorySlots; ++i) {
        ini.WriteString(kHistory, "Open" + std::to_string(i + 1), OpenHistory.Slots()[i]);
        ini.WriteString(kHistory, "Ext" + std::to_string(i + 1), ExtractHistory.Slots()[i]);
    }
}

void Settings::SaveCompression(IniFile& ini) const {
    ini.WriteInteger(kCompression, "zipCR", zipCR);
    ini.WriteInteger(kCompression, "cabCR", cabCR);
    ini.WriteInteger(kCompression, "lhaCR", lhaCR);
    ini.WriteInteger(kCompression, "tarCR", tarCR);
}

void Settings::SaveMail(IniFile& ini) const {
    ini.WriteString(kMail, "InternalMail", FlagText(InternalMail));
    ini.WriteString(kMail, "MailHost", MailHost);
    ini.WriteString(kMail, "MailUserID", MailUserID);
    ini.WriteString(kMail, "MailName", MailName);
    ini.WriteString(kMail, "MailAddress", MailAddress);
    ini.WriteInteger(kMail, "MailPort", MailPort);
    ini.WriteString(kMail, "MailSecurity", MailSecurity);
    ini.WriteString(kMail, "MailAuthUser", MailAuthUser);
    ini.WriteString(kMail, "MailPassword", MailPassword);
    ini.WriteString(kMail, "MailCaFile", MailCaFile);
}

void Settings::SaveAutoUpd(IniFile& ini) const {
    ini.WriteBool(kAutoUpd, "AutoUpd", AutoUpd);
    ini.WriteFloat(kAutoUpd, "LastCheck", LastCheck);
    ini.WriteInteger(kAutoUpd, "CheckPeriod", CheckPeriod);
    ini.WriteString(kAutoUpd, "Proxy", Proxy);
    ini.WriteString(kAutoUpd, "ProxyPort", ProxyPort);
    ini.WriteString(kAutoUpd, "HomeURL", HomeURL);
    ini.WriteBool(kAutoUpd, "AllowHttp", AllowHttp);
    ini.WriteString(kAutoUpd, "CaFile", UpdCaFile);
}

std::string Settings::TempFolder() const {
    return SysTemp ? DefaultTempFolder() : WithSlash(Temp);
}

int Settings::LogHeight(bool floating) const {
    if (tbLogHeight >= 0) return tbLogHeight;
    return floating ? 87 : 66;
}

int Settings::ProxyPortNumber() const {
    char* end = nullptr;
    long v = std::strtol(ProxyPort.c_str(), &end, 10);
    if (ProxyPort.empty() || !end || *end != 0 || v < 0 || v > 65535) return 80;
    return static_cast<int>(v);
}

int Settings::ColumnWidth(int col) const {
    if (col < 0 || col >= kColumnCount) return 0;
    int w = Columns[col].width;
    return w == kDefaultColumnWidthMarker ? kDefaultColumnWidths[col] : w;
}

SettingsStore::SettingsStore(std::string baseDir) : baseDir_(WithoutSlash(std::move(baseDir))) {}

std::string SettingsStore::BaseIniPath() const {
    return baseDir_ + "/" + kIniName;
}

bool SettingsStore::Relocated() const {
    return ini_ && ini_->Path() != BaseIniPath();
}

void SettingsStore::Open() {
    auto base = std::make_unique<IniFile>(BaseIniPath());
    if (base->ReadBool(kSettings, "LocalIni", false)) {
        std::string folder =
            ParentFolder(NativeFolder(base->ReadString(kSettings, "IniPath", DefaultRootFolder())));
        if (!folder.empty()) {
            if (!platform::DirectoryExists(folder)) platform::ForceDirectories(folder);
            ini_ = std::make_unique<IniFile>(WithSlash(folder) + kIniName);
            return;
        }
    }
    ini_ = std::move(base);
}

bool SettingsStore::Switch(Location where, const std::string& path) {
    if (ini_) ini_->Flush();
    auto base = std::make_unique<IniFile>(BaseIniPath());
    if (where == Location::ProgramFolder) {
        base->WriteBool(kSettings, "LocalIni", false);
        base->WriteString(kSettings, "IniPath", path);
        bool ok = base->Flush();
        ini_ = std::move(base);
        return ok;
    }
    std::string folder = ParentFolder(path);
    if (folder.empty() || (!platform::DirectoryExists(folder) && !platform::ForceDirectories(folder)))
        return false;
    base->WriteBool(kSettings, "LocalIni", true);
    base->WriteString(kSettings, "IniPath", path);
    if (!base->Flush()) return false;
    ini_ = std::make_unique<IniFile>(WithSlash(folder) + kIniName);
    return true;
}

}  // namespace varnok::app
