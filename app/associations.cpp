#include "app/associations.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "app/desktop_entry.h"
#include "app/paths.h"
#include "app/process.h"
#include "archive/core/format.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"
#include "archive/core/utils.h"

namespace varnok::app {

namespace {

// A file type the desktop associates with this program: every family's file types from the format
// registry, and the encryption plug-in's archives.
struct ExtType {
    std::string ext;  // with its dot
    std::string mime;
    const char* comment;  // set when our MIME package defines the type
};

// The encryption plug-in's archives are no archive family of their own.
const FileType kEncrypted{"Encrypted", {"vca"}, "application/x-varnok-encrypted", "Varnok encrypted archive"};

}  // namespace

std::vector<const FileType*> DesktopFileTypes() {
    std::vector<const FileType*> out;
    for (const FormatRecord* f : Formats())
        for (const FileType& t : f->fileTypes)
            out.push_back(&t);
    out.push_back(&kEncrypted);
    return out;
}

namespace {

const std::vector<ExtType>& ExtTypes() {
    static const std::vector<ExtType> types = [] {
        std::vector<ExtType> v;
        for (const FileType* t : DesktopFileTypes())
            for (const auto& e : t->extensions)
                v.push_back({"." + e, t->mimeType, t->mimeComment});
        return v;
    }();
    return types;
}

std::vector<std::string> SplitList(const std::string& v) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : v) {
        if (c == ';') {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

std::string JoinList(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& i : items)
        out += i + ";";
    return out;
}

const char* const kDefaults = "Default Applications";
const char* const kAdded = "Added Associations";

}  // namespace

const std::vector<AssociationRow>& AssociationRows() {
    static const std::vector<AssociationRow> rows = [] {
        std::vector<AssociationRow> v;
        for (const FileType* t : DesktopFileTypes()) {
            std::string caption = std::string(t->name) + " archives (";
            std::vector<std::string> exts;
            for (const auto& e : t->extensions) {
                caption += (exts.empty() ? "*." : ", *.") + e;
                exts.push_back("." + e);
            }
            v.push_back({caption + ")", exts, t->associate});
        }
        // In the order of their extensions, as people look for them.
        std::stable_sort(v.begin(), v.end(), [](const AssociationRow& a, const AssociationRow& b) {
            return a.extensions.front() < b.extensions.front();
        });
        return v;
    }();
    return rows;
}

const std::vector<std::string>& CheckedExtensions() {
    static const std::vector<std::string> exts = [] {
        std::vector<std::string> v;
        for (const auto& row : AssociationRows())
            if (row.tickedByDefault) v.insert(v.end(), row.extensions.begin(), row.extensions.end());
        return v;
    }();
    return exts;
}

std::string MimeTypeOfExtension(const std::string& ext) {
    std::string e = LowerAscii(ext);
    for (const auto& t : ExtTypes())
        if (e == t.ext) return t.mime;
    return {};
}

Associations::Associations(std::string dataHome, std::string configHome, std::string programPath,
                           std::string iconName)
    : dataHome_(WithoutSlash(std::move(dataHome))),
      configHome_(WithoutSlash(std::move(configHome))),
      programPath_(std::move(programPath)),
      iconName_(iconName.empty() ? "package-x-generic" : std::move(iconName)) {}

std::string Associations::DesktopFilePath() const {
    return dataHome_ + "/applications/" + kDesktopFileName;
}
std::string Associations::MimeAppsPath() const {
    return configHome_ + "/mimeapps.list";
}
std::string Associations::MimePackagePath() const {
    return dataHome_ + "/mime/packages/varnok.xml";
}

std::string Associations::OpenCommand() const {
    return DesktopExecArgument(programPath_) + " %f";
}

bool Associations::ClassKeyCurrent() const {
    if (!platform::FileExists(DesktopFilePath())) return false;
    IniFile f(DesktopFilePath());
    return f.ReadString("Desktop Entry", "Exec", "") == OpenCommand();
}

bool Associations::WriteClassKey() {
    std::vector<std::string> mimes;
    for (const auto& t : ExtTypes())
        if (std::find(mimes.begin(), mimes.end(), t.mime) == mimes.end()) mimes.push_back(t.mime);
    std::string desktop =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Varnok\n"
        "GenericName=Archive manager\n"
        "Comment=Varnok file\n"
        "Icon=" +
        iconName_ +
        "\n"
        "Exec=" +
        OpenCommand() +
        "\n"
        "Terminal=false\n"
        "Categories=Utility;Archiving;Compression;\n"
        "MimeType=" +
        JoinList(mimes) + "\n";
    if (!platform::WriteFileAtomically(DesktopFilePath(), desktop)) return false;

    std::map<std::string, std::pair<const char*, std::vector<std::string>>> own;
    for (const auto& t : ExtTypes())
        if (t.comment) {
            own[t.mime].first = t.comment;
            own[t.mime].second.push_back(t.ext);
        }
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
    for (const auto& [mime, type] : own) {
        const auto& [comment, exts] = type;
        xml += "  <mime-type type=\"" + mime + "\">\n";
        xml += "    <comment>" + XmlEscape(comment) + "</comment>\n";
        for (const auto& e : exts)
            xml += "    <glob pattern=\"*" + e + "\"/>\n";
        xml += "  </mime-type>\n";
    }
    xml += "</mime-info>\n";
    return platform::WriteFileAtomically(MimePackagePath(), xml);
}

bool Associations::EnsureClassKey() {
    return ClassKeyCurrent() || WriteClassKey();
}

bool Associations::IsAssociated(const std::string& ext) const {
    std::string mime = MimeTypeOfExtension(ext);
    if (mime.empty()) return false;
    IniFile list(MimeAppsPath());
    auto apps = SplitList(list.ReadString(kDefaults, mime, ""));
    return !apps.empty() && apps.front() == kDesktopFileName;
}

bool Associations::AllAssociated(const std::vector<std::string>& exts) const {
    for (const auto& e : exts)
        if (!IsAssociated(e)) return false;
    return true;
}

bool Associations::Associate(const std::string& ext) {
    std::string mime = MimeTypeOfExtension(ext);
    if (mime.empty()) return false;
    IniFile list(MimeAppsPath());
    auto apps = SplitList(list.ReadString(kDefaults, mime, ""));
    apps.erase(std::remove(apps.begin(), apps.end(), kDesktopFileName), apps.end());
    apps.insert(apps.begin(), kDesktopFileName);
    list.WriteString(kDefaults, mime, JoinList(apps));
    auto added = SplitList(list.ReadString(kAdded, mime, ""));
    if (std::find(added.begin(), added.end(), kDesktopFileName) == added.end()) {
        added.insert(added.begin(), kDesktopFileName);
        list.WriteString(kAdded, mime, JoinList(added));
    }
    return list.Flush();
}

bool Associations::Unassociate(const std::string& ext) {
    std::string mime = MimeTypeOfExtension(ext);
    if (mime.empty()) return true;
    IniFile list(MimeAppsPath());
    auto apps = SplitList(list.ReadString(kDefaults, mime, ""));
    if (apps.empty() || apps.front() != kDesktopFileName) return true;
    apps.erase(apps.begin());
    if (apps.empty())
        list.DeleteKey(kDefaults, mime);
    else
        list.WriteString(kDefaults, mime, JoinList(apps));
    return list.Flush();
}

void Associations::NotifyChanged() {
    if (OnNotify) {
        OnNotify();
        return;
    }
    if (ProgramOnPath("update-desktop-database"))
        SpawnDetached({"update-desktop-database", "-q", dataHome_ + "/applications"});
    if (ProgramOnPath("update-mime-database")) SpawnDetached({"update-mime-database", dataHome_ + "/mime"});
}

AssociationAction DecideAssociationCheck(bool associate, bool noDialog, bool zipIsOurs, bool allAssociated) {
    if (!associate && zipIsOurs) return AssociationAction::None;
    if (noDialog && associate) return AssociationAction::Silent;
    if (!noDialog && !allAssociated) return AssociationAction::Dialog;
    return AssociationAction::None;
}

AssociationAction RunAssociationCheck(Associations& a, const IniFile& ini, const Settings& s) {
    a.EnsureClassKey();
    AssociationAction act = DecideAssociationCheck(s.Associate, s.NoDialog, a.IsAssociated(".zip"),
                                                   a.AllAssociated(CheckedExtensions()));
    if (act == AssociationAction::Silent) {
        bool changed = false;
        for (const auto& ext : kAssociationKeys) {
            if (ini.ReadInteger("FileAssociation", ext, 1) != 1 || a.IsAssociated(ext)) continue;
            a.Associate(ext);
            changed = true;
        }
        if (changed) a.NotifyChanged();
    }
    return act;
}

void ApplyAssociationDialog(Associations& a, IniFile& ini, Settings& s, const std::vector<bool>& ticked,
                            bool neverAsk) {
    const auto& rows = AssociationRows();
    for (size_t i = 0; i < rows.size() && i < ticked.size(); ++i) {
        if (!ticked[i]) continue;
        for (const auto& ext : rows[i].extensions) {
            a.Associate(ext);
            ini.WriteString("FileAssociation", ext, "1");
        }
    }
    if (neverAsk) {
        ini.WriteString("FileAssociation", "NoDialog", "1");
        ini.WriteString("FileAssociation", "Associate", "1");
        s.NoDialog = true;
        s.Associate = true;
    }
    ini.Flush();
    a.NotifyChanged();
}

void CancelAssociationDialog(IniFile& ini, Settings& s, bool neverAsk) {
    if (!neverAsk) return;
    ini.WriteString("FileAssociation", "NoDialog", "1");
    ini.WriteString("FileAssociation", "Associate", "0");
    s.NoDialog = true;
    s.Associate = false;
    ini.Flush();
}

}  // namespace varnok::app
