#include "app/update/http_client.h"

#include <curl/curl.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <mutex>

#include "app/paths.h"
#include "platform/file.h"
#include "platform/tempfile.h"

namespace varnok::update {

namespace {

void InitCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool StartsWithNoCase(const std::string& s, const char* prefix) {
    for (size_t i = 0; prefix[i]; ++i)
        if (i >= s.size() || std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

struct Transfer {
    const HttpOptions& opt;
    std::string* body = nullptr;
    platform::File* file = nullptr;
    uint64_t received = 0;
    bool tooBig = false;
    bool writeFailed = false;
    std::string reason;  // of the last status line

    static size_t Write(char* data, size_t size, size_t n, void* user) {
        auto* t = static_cast<Transfer*>(user);
        size_t len = size * n;
        if (t->opt.maxBytes && t->received + len > t->opt.maxBytes) {
            t->tooBig = true;
            return 0;
        }
        t->received += len;
        if (t->body) t->body->append(data, len);
        if (t->file && !t->file->Write(data, len)) {
            t->writeFailed = true;
            return 0;
        }
        return len;
    }

    static size_t Header(char* data, size_t size, size_t n, void* user) {
        auto* t = static_cast<Transfer*>(user);
        std::string line(data, size * n);
        if (line.rfind("HTTP/", 0) == 0) {
            // "HTTP/1.1 404 Not Found": the reason after the code; a new response (redirect) starts afresh.
            size_t sp1 = line.find(' ');
            size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
            t->reason = sp2 == std::string::npos ? "" : line.substr(sp2 + 1);
            while (!t->reason.empty() && (t->reason.back() == '\r' || t->reason.back() == '\n'))
                t->reason.pop_back();
            if (t->body) t->body->clear();
            t->received = 0;
        }
        return size * n;
    }

    static int Progress(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t, curl_off_t) {
        auto* t = static_cast<Transfer*>(user);
        if (t->opt.cancel && *t->opt.cancel) return 1;
        if (t->opt.progress)
            t->opt.progress(static_cast<uint64_t>(dlnow > 0 ? dlnow : 0),
                            static_cast<uint64_t>(dltotal > 0 ? dltotal : 0));
        return 0;
    }
};

HttpResult Perform(const std::string& url, const HttpOptions& opt, Transfer& t) {
    HttpResult r;
    if (!UrlAllowed(url, opt.allowHttp)) {
        r.error = opt.allowHttp ? "The address is not an http or https address: " + url
                                : "Only https addresses are allowed (plain http is off in the settings): " + url;
        return r;
    }
    InitCurl();
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) {
        r.error = "The HTTP transport could not be started";
        return r;
    }
    CURL* h = curl.get();
    char errbuf[CURL_ERROR_SIZE] = {};
    bool https = StartsWithNoCase(url, "https://");
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, opt.allowHttp ? "http,https" : "https");
    // Once on https, a redirect may not fall back to plain http.
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, https || !opt.allowHttp ? "https" : "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, static_cast<long>(opt.maxRedirects));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!opt.caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, opt.caFile.c_str());
    std::string proxy = opt.proxyHost.empty() ? "" : opt.proxyHost + ":" + std::to_string(opt.proxyPort);
    curl_easy_setopt(h, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Varnok update check");
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, opt.connectTimeoutMs);
    if (opt.totalTimeoutMs > 0) curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, opt.totalTimeoutMs);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, opt.stallSeconds > 0 ? opt.stallSeconds : 30L);
    if (opt.maxBytes) curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(opt.maxBytes));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Transfer::Write);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Transfer::Header);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Transfer::Progress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t);

    CURLcode rc = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &r.status);
    char* last = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &last) == CURLE_OK && last) r.finalUrl = last;
    std::string detail = errbuf[0] ? errbuf : curl_easy_strerror(rc);
    if (rc == CURLE_OK) {
        if (r.status == 200) {
            r.ok = true;
        } else {
            r.error = "HTTP " + std::to_string(r.status) + (t.reason.empty() ? "" : " " + t.reason);
        }
        return r;
    }
    if (opt.cancel && *opt.cancel) {
        r.canceled = true;
        r.error = "Canceled";
    } else if (t.tooBig || rc == CURLE_FILESIZE_EXCEEDED) {
        r.error = "The server sent more than " + std::to_string(opt.maxBytes) + " bytes";
    } else if (t.writeFailed) {
        r.error = "The file could not be written";
    } else if (rc == CURLE_OPERATION_TIMEDOUT) {
        r.error = "The server did not answer in time (" + detail + ")";
    } else if (rc == CURLE_UNSUPPORTED_PROTOCOL) {
        r.error = "The server redirected to an address that is not allowed (" + detail + ")";
    } else if (rc == CURLE_TOO_MANY_REDIRECTS) {
        r.error = "Too many redirects (" + detail + ")";
    } else if (rc == CURLE_PEER_FAILED_VERIFICATION || rc == CURLE_SSL_CONNECT_ERROR ||
               rc == CURLE_SSL_CACERT_BADFILE || rc == CURLE_SSL_CERTPROBLEM) {
        r.error = "The secure connection failed (" + detail + ")";
    } else if (rc == CURLE_COULDNT_RESOLVE_HOST) {
        r.error = "The server name could not be resolved (" + detail + ")";
    } else if (rc == CURLE_COULDNT_CONNECT) {
        r.error = "Could not connect to the server (" + detail + ")";
    } else {
        r.error = detail;
    }
    return r;
}

}  // namespace

bool UrlAllowed(const std::string& url, bool allowHttp) {
    size_t hostStart;
    if (StartsWithNoCase(url, "https://"))
        hostStart = 8;
    else if (allowHttp && StartsWithNoCase(url, "http://"))
        hostStart = 7;
    else
        return false;
    if (url.size() <= hostStart || url[hostStart] == '/' || url[hostStart] == ':' || url[hostStart] == '?')
        return false;
    for (unsigned char c : url)
        if (c <= ' ' || c == 127) return false;
    return true;
}

HttpResult HttpGet(const std::string& url, const HttpOptions& opt) {
    std::string body;
    Transfer t{opt};
    t.body = &body;
    HttpResult r = Perform(url, opt, t);
    if (r.ok) r.body = std::move(body);
    return r;
}

HttpResult HttpDownload(const std::string& url, const std::string& target, const HttpOptions& opt) {
    std::string dir = app::ParentFolder(target);
    platform::File file;
    std::string tmp = platform::CreateTempFile(dir.empty() ? "." : app::WithoutSlash(dir), ".varnok-download-",
                                               {}, &file);
    if (tmp.empty()) {
        HttpResult r;
        r.error = "No file can be created in " + (dir.empty() ? std::string(".") : dir);
        return r;
    }
    Transfer t{opt};
    t.file = &file;
    HttpResult r = Perform(url, opt, t);
    if (r.ok) {
        ::fchmod(file.Fd(), 0644);  // an ordinary document, never executable
        if (!file.Sync() || !file.Close()) {
            r.ok = false;
            r.error = "The file could not be written";
        } else if (std::rename(tmp.c_str(), target.c_str()) != 0) {
            r.ok = false;
            r.error = "The file could not be saved as " + target;
        }
    }
    if (!r.ok) {
        file.Close();
        std::remove(tmp.c_str());
    }
    return r;
}

}  // namespace varnok::update
