// varnok-desktop-files STAGING TEMPLATE DESKTOP MIME_XML: writes the desktop entry and the MIME package that
// are installed with the program, at build time. Both come from the same code that writes a user's own
// entry and package when the program associates itself (Associations::WriteClassKey), so the installed
// MimeType line and the MIME package can never disagree with the types the program opens: the class key is
// written into STAGING, the MIME package taken as it is, and the MimeType line put into TEMPLATE's
// @VARNOK_MIME_TYPES@ (the rest of the installed entry is TEMPLATE's).
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "app/associations.h"
#include "app/ini_file.h"

namespace {

bool ReadWhole(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return !in.bad();
}

bool WriteWhole(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return !out.fail();
}

int Fail(const std::string& what) {
    fprintf(stderr, "varnok-desktop-files: %s\n", what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) return Fail("usage: varnok-desktop-files STAGING TEMPLATE DESKTOP MIME_XML");
    const std::string staging = argv[1], templ = argv[2], desktop = argv[3], mimeXml = argv[4];
    varnok::app::Associations a(staging, staging + "/config", "varnok");
    if (!a.WriteClassKey()) return Fail("cannot write the class key into " + staging);
    const std::string mimeTypes =
        varnok::app::IniFile(a.DesktopFilePath()).ReadString("Desktop Entry", "MimeType", "");
    if (mimeTypes.empty()) return Fail(a.DesktopFilePath() + " has no MimeType line");
    std::string text, xml;
    if (!ReadWhole(templ, text)) return Fail("cannot read " + templ);
    const std::string mark = "@VARNOK_MIME_TYPES@";
    const size_t at = text.find(mark);
    if (at == std::string::npos) return Fail(templ + " has no " + mark);
    text.replace(at, mark.size(), mimeTypes);
    if (!ReadWhole(a.MimePackagePath(), xml)) return Fail("cannot read " + a.MimePackagePath());
    if (!WriteWhole(desktop, text)) return Fail("cannot write " + desktop);
    if (!WriteWhole(mimeXml, xml)) return Fail("cannot write " + mimeXml);
    return 0;
}
