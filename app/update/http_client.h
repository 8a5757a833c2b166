// HTTP GET for the update check, over libcurl: a page into memory, or a file into a folder.
//
// Everything a hostile or broken server can do is bounded here rather than in the callers: only https (and
// plain http when the caller allows it) is spoken, certificates are always checked (a test passes its own
// CA file, verification is never turned off), redirects are followed a few times and never from https to
// http, a page has a size cap, a connect timeout, a stall limit and an overall time limit, and a cancel flag
// ends the transfer at the next progress poll. A download is written to a temporary file beside its target
// and renamed in only when complete, so a failed or cancelled download leaves nothing half-written behind.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace varnok::update {

struct HttpOptions {
    bool allowHttp = false;  // plain http accepted (the start address and redirects within http)
    std::string caFile;      // certificates to trust instead of the system's
    std::string proxyHost;   // empty: a direct connection
    int proxyPort = 80;
    long connectTimeoutMs = 15000;
    long totalTimeoutMs = 60000;  // 0: none (downloads)
    long stallSeconds = 30;       // the transfer ends when less than one byte a second arrives for this long
    uint64_t maxBytes = 1 << 20;  // 0: no cap
    int maxRedirects = 5;
    const std::atomic<bool>* cancel = nullptr;
    std::function<void(uint64_t received, uint64_t total)> progress;  // total 0 when unknown
};

struct HttpResult {
    bool ok = false;
    long status = 0;     // the last response's status code
    std::string error;   // why it failed, for the user
    std::string body;    // Get only
    std::string finalUrl;
    bool canceled = false;
};

// Whether an address may be fetched: https, or http when allowed; a host after "//"; no blanks or control
// characters.
bool UrlAllowed(const std::string& url, bool allowHttp);

// GETs a page into memory. Anything but status 200 is a failure naming the status.
HttpResult HttpGet(const std::string& url, const HttpOptions& opt);
// GETs a file to target (replaced only on success).
HttpResult HttpDownload(const std::string& url, const std::string& target, const HttpOptions& opt);

}  // namespace varnok::update
