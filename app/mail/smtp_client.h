// The SMTP client (TNMSMTP): delivers one TPostMessage to a mail server.
//
// The dialogue is libcurl's rather than a hand-made socket exchange, because what servers require today
// (SMTPS, STARTTLS with certificate checks, AUTH after EHLO) is a protocol engine of its own; the client
// keeps what the window relies on around it: one connection per send, the sender and every recipient
// (To, Cc, Bcc) as envelope addresses, the server's own reply text as the error of a refused step, the
// classic connect texts ("Connection Failed", "Connection Timed out", "Connection Canceled", "Null Remote
// Address", "Authentication failed", "Incomplete Header"), and a cancel flag that ends a send at the next
// progress poll. Every recipient must be accepted or nothing is sent.
//
// The message text comes from MessageStream without dot-stuffing: libcurl doubles leading dots of the
// upload itself and ends the data with the "." line.
//
// The server's replies are followed with ReplyReader (multi-line replies to their last line, the code as
// the leading digits) so that a failure names the reply that caused it. The dialogue can be logged; the
// lines of an AUTH exchange are logged with their arguments masked, so a password never reaches the log.
//
// SendMail blocks; the window runs it on a worker thread and calls Abort from its Cancel button. Events are
// called on the thread that runs SendMail.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/mail/mime_message.h"

namespace varnok::mail {

enum class SmtpSecurity { None, StartTls, Smtps };
// "none", "starttls", "smtps" (the settings' texts); anything else reads as StartTls.
SmtpSecurity SecurityFromText(const std::string& text);
const char* SecurityText(SmtpSecurity s);

// The reply code of a line: its leading decimal digits (at most 10), 0 when there are none.
int64_t ReplyCode(std::string_view line);

// Gathers server replies from received text: a reply ends with a line that neither begins with a blank nor
// has "-" as its fourth character.
class ReplyReader {
  public:
    struct Reply {
        int64_t code = 0;
        std::string text;  // all its lines, joined by "\n", without line ends
    };
    // Takes received text (any split); returns the replies it completed.
    std::vector<Reply> Feed(std::string_view data);

  private:
    std::string partial_;
    std::vector<std::string> lines_;
};

// A password may travel only over an encrypted connection, or to this machine itself.
bool PasswordAllowed(const std::string& host, SmtpSecurity security);

class TNMSMTP {
  public:
    std::string Host;
    int Port = 25;
    int TimeOut = 0;     // seconds to connect and the longest stall; 0: 30 s to connect, 60 s stalled
    std::string UserID;  // the name sent with EHLO/HELO
    SmtpSecurity Security = SmtpSecurity::StartTls;
    std::string AuthUser, AuthPassword;  // AUTH when AuthUser is set
    std::string CaFile;                  // certificates to trust instead of the system's; empty: the system's
    TPostMessage PostMessage;
    std::string Charset = "us-ascii";
    TSubType SubType = TSubType::mtPlain;
    bool ClearParams = true;

    std::function<void()> OnConnect;    // the server greeted and accepted EHLO/HELO
    std::function<void()> OnSendStart;  // the message text starts
    std::function<void()> OnSuccess;
    std::function<void(const std::string&)> OnFailure;  // the text of the failure about to be thrown
    std::function<void(const std::string&)> OnAttachmentNotFound;
    std::function<void(uint64_t sent, uint64_t total)> OnPacketSent;
    std::function<void(const std::string&)> OnLog;  // dialogue lines, "C: " sent and "S: " received

    TNMSMTP() = default;
    TNMSMTP(const TNMSMTP&) = delete;
    TNMSMTP& operator=(const TNMSMTP&) = delete;

    // Connects, sends PostMessage and disconnects. Throws MailError with the text to show; returns only when
    // the server accepted the message.
    void SendMail();
    // Ends a running send at its next poll (any thread).
    void Abort() { cancel_ = true; }
    bool Busy() const { return busy_; }
    // The code of the last reply (0 when none).
    int64_t ReplyNumber() const { return replyNumber_; }

  private:
    struct Run;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> busy_{false};
    std::atomic<int64_t> replyNumber_{0};
};

}  // namespace varnok::mail
