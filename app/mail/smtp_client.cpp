#include "app/mail/smtp_client.h"

#include <curl/curl.h>

#include <cctype>
#include <exception>
#include <memory>
#include <mutex>

namespace varnok::mail {

namespace {

void InitCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(s[i])) != std::toupper(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

// An envelope address may not carry what would end or extend the command it is sent in.
bool UsableAddress(const std::string& a) {
    if (a.empty()) return false;
    for (unsigned char c : a)
        if (c <= ' ' || c == '<' || c == '>' || c == 127) return false;
    return true;
}

std::string UrlHost(const std::string& host) {
    if (host.find(':') != std::string::npos && host.front() != '[') return "[" + host + "]";
    return host;
}

}  // namespace

SmtpSecurity SecurityFromText(const std::string& text) {
    std::string t = Lower(text);
    if (t == "none") return SmtpSecurity::None;
    if (t == "smtps") return SmtpSecurity::Smtps;
    return SmtpSecurity::StartTls;
}

const char* SecurityText(SmtpSecurity s) {
    switch (s) {
        case SmtpSecurity::None:
            return "none";
        case SmtpSecurity::Smtps:
            return "smtps";
        default:
            return "starttls";
    }
}

int64_t ReplyCode(std::string_view line) {
    int64_t code = 0;
    for (size_t i = 0; i < line.size() && i < 10 && std::isdigit(static_cast<unsigned char>(line[i])); ++i)
        code = code * 10 + (line[i] - '0');
    return code;
}

std::vector<ReplyReader::Reply> ReplyReader::Feed(std::string_view data) {
    std::vector<Reply> out;
    partial_.append(data);
    size_t start = 0;
    for (size_t lf; (lf = partial_.find('\n', start)) != std::string::npos; start = lf + 1) {
        std::string line = partial_.substr(start, lf - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines_.push_back(line);
        bool more = (!line.empty() && line[0] == ' ') || (line.size() >= 4 && line[3] == '-');
        if (more) continue;
        Reply r;
        r.code = ReplyCode(lines_.front());
        for (size_t i = 0; i < lines_.size(); ++i)
            r.text += (i ? "\n" : "") + lines_[i];
        lines_.clear();
        out.push_back(std::move(r));
    }
    partial_.erase(0, start);
    return out;
}

bool PasswordAllowed(const std::string& host, SmtpSecurity security) {
    if (security != SmtpSecurity::None) return true;
    std::string h = Lower(host);
    return h == "localhost" || h == "127.0.0.1" || h == "::1" || h == "[::1]";
}

// The state of one send, shared with libcurl's callbacks.
struct TNMSMTP::Run {
    TNMSMTP& client;
    MessageStream& message;
    ReplyReader replies;
    ReplyReader::Reply lastRefusal;  // the last reply of 400 or more (libcurl still says QUIT after it)
    uint64_t read = 0;               // message bytes handed over (the wire count includes added dots)
    std::string lastCommand;
    bool greeted = false;
    bool connected = false;
    bool sending = false;
    bool masking = false;  // inside an AUTH exchange: what the client sends is not logged
    std::exception_ptr readError;

    void Log(const std::string& line) {
        if (client.OnLog) client.OnLog(line);
    }

    void Received(std::string_view data) {
        for (auto& r : replies.Feed(data)) {
            Log("S: " + r.text);
            greeted = true;
            client.replyNumber_ = r.code;
            if (masking && r.code != 334) masking = false;
            if (!connected && r.code < 400 &&
                (StartsWithNoCase(lastCommand, "EHLO") || StartsWithNoCase(lastCommand, "HELO"))) {
                connected = true;
                if (client.OnConnect) client.OnConnect();
            }
            if (r.code >= 400) lastRefusal = std::move(r);
        }
    }

    void Sent(std::string_view data) {
        std::string text(data);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        lastCommand = text;
        if (StartsWithNoCase(text, "AUTH ")) {
            masking = true;
            size_t sp = text.find(' ', 5);
            Log("C: " + (sp == std::string::npos ? text : text.substr(0, sp) + " ****"));
        } else if (masking) {
            Log("C: ****");
        } else {
            Log("C: " + text);
        }
    }

    static int Debug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
        auto* run = static_cast<Run*>(user);
        if (type == CURLINFO_HEADER_IN) run->Received(std::string_view(data, size));
        if (type == CURLINFO_HEADER_OUT) run->Sent(std::string_view(data, size));
        return 0;
    }

    static size_t Read(char* buf, size_t size, size_t n, void* user) {
        auto* run = static_cast<Run*>(user);
        if (run->client.cancel_) return CURL_READFUNC_ABORT;
        if (!run->sending) {
            run->sending = true;
            if (run->client.OnSendStart) run->client.OnSendStart();
        }
        try {
            size_t got = run->message.Read(buf, size * n);
            run->read += got;
            return got;
        } catch (...) {
            run->readError = std::current_exception();
            return CURL_READFUNC_ABORT;
        }
    }

    static int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        auto* run = static_cast<Run*>(user);
        if (run->client.cancel_) return 1;
        if (run->sending && run->client.OnPacketSent)
            run->client.OnPacketSent(run->read, run->message.Size());
        return 0;
    }
};

void TNMSMTP::SendMail() {
    if (busy_.exchange(true)) throw MailError(MailError::Kind::Other, "Already connected");
    struct Idle {
        std::atomic<bool>& busy;
        ~Idle() { busy = false; }
    } idle{busy_};
    cancel_ = false;
    replyNumber_ = 0;

    auto fail = [this](MailError::Kind kind, const std::string& text) {
        if (OnFailure) OnFailure(text);
        throw MailError(kind, text);
    };
    if (Host.empty()) fail(MailError::Kind::Connect, "Null Remote Address");
    if (!AuthUser.empty() && !PasswordAllowed(Host, Security))
        fail(MailError::Kind::Authentication,
             "Authentication failed\nThe password would travel unencrypted: choose STARTTLS or SMTPS.");

    MessageOptions opt;
    opt.Charset = Charset;
    opt.SubType = SubType;
    opt.DotStuff = false;  // libcurl stuffs the dots itself
    std::unique_ptr<MessageStream> message;
    try {
        message = std::make_unique<MessageStream>(PostMessage, opt);
    } catch (const MailError& e) {
        if (e.GetKind() == MailError::Kind::AttachmentNotFound && OnAttachmentNotFound) OnAttachmentNotFound(e.what());
        fail(e.GetKind(), e.what());
    }
    std::string from = ExtractAddress(PostMessage.FromAddress);
    if (!UsableAddress(from)) fail(MailError::Kind::HeaderIncomplete, "Incomplete Header");
    std::vector<std::string> rcpt = Recipients(PostMessage);
    for (const auto& a : rcpt)
        if (!UsableAddress(a)) fail(MailError::Kind::Refused, "Not a usable mail address: " + a);

    InitCurl();
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) fail(MailError::Kind::Other, "The mail transport could not be started");
    struct SList {
        curl_slist* list = nullptr;
        ~SList() { curl_slist_free_all(list); }
    } recipients;
    for (const auto& a : rcpt)
        recipients.list = curl_slist_append(recipients.list, ("<" + a + ">").c_str());

    Run run{*this, *message};
    char* helo = curl_easy_escape(curl.get(), UserID.empty() ? "localhost" : UserID.c_str(), 0);
    std::string url = std::string(Security == SmtpSecurity::Smtps ? "smtps://" : "smtp://") + UrlHost(Host) + ":" +
                      std::to_string(Port) + "/" + (helo ? helo : "localhost");
    curl_free(helo);
    char errbuf[CURL_ERROR_SIZE] = {};
    std::string fromArg = "<" + from + ">";
    long timeout = TimeOut > 0 ? TimeOut : 0;

    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(h, CURLOPT_USE_SSL,
                     Security == SmtpSecurity::StartTls ? static_cast<long>(CURLUSESSL_ALL)
                                                        : static_cast<long>(CURLUSESSL_NONE));
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!CaFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, CaFile.c_str());
    if (!AuthUser.empty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, AuthUser.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, AuthPassword.c_str());
    }
    curl_easy_setopt(h, CURLOPT_MAIL_FROM, fromArg.c_str());
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT, recipients.list);
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message->Size()));
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &Run::Read);
    curl_easy_setopt(h, CURLOPT_READDATA, &run);
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, &Run::Debug);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, &run);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Run::Progress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &run);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, timeout ? timeout : 30L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, timeout ? timeout : 60L);
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout ? timeout : 60L);

    CURLcode rc = curl_easy_perform(h);
    if (rc != CURLE_OK) {
        if (run.readError) {
            try {
                std::rethrow_exception(run.readError);
            } catch (const MailError& e) {
                fail(e.GetKind(), e.what());
            }
        }
        std::string detail = errbuf[0] ? errbuf : curl_easy_strerror(rc);
        if (run.lastRefusal.code) replyNumber_ = run.lastRefusal.code;
        const std::string& reply = run.lastRefusal.text;
        if (cancel_ || rc == CURLE_ABORTED_BY_CALLBACK)
            fail(MailError::Kind::Canceled, run.sending ? "Socket send aborted" : "Connection Canceled");
        switch (rc) {
            case CURLE_COULDNT_RESOLVE_HOST:
                fail(MailError::Kind::Connect, "Null Remote Address\n" + detail);
                break;
            case CURLE_COULDNT_CONNECT:
                fail(MailError::Kind::Connect, "Connection Failed\n" + detail);
                break;
            case CURLE_OPERATION_TIMEDOUT:
                fail(run.greeted ? MailError::Kind::ConnectionLost : MailError::Kind::Connect,
                     "Connection Timed out\n" + detail);
                break;
            case CURLE_LOGIN_DENIED:
                fail(MailError::Kind::Authentication, "Authentication failed\n" + reply);
                break;
            case CURLE_USE_SSL_FAILED:
                fail(MailError::Kind::Tls, "The mail server does not offer STARTTLS\n" + detail);
                break;
            case CURLE_PEER_FAILED_VERIFICATION:
            case CURLE_SSL_CONNECT_ERROR:
            case CURLE_SSL_CACERT_BADFILE:
            case CURLE_SSL_CERTPROBLEM:
            case CURLE_SSL_CIPHER:
            case CURLE_SSL_ISSUER_ERROR:
            case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
            case CURLE_SSL_INVALIDCERTSTATUS:
                fail(MailError::Kind::Tls, "The secure connection to the mail server failed\n" + detail);
                break;
            default:
                break;
        }
        if (run.lastRefusal.code) fail(MailError::Kind::Refused, reply);
        fail(MailError::Kind::ConnectionLost, "The connection to the mail server was lost\n" + detail);
    }
    if (ClearParams) PostMessage.Clear();
    if (OnSuccess) OnSuccess();
}

}  // namespace varnok::mail
