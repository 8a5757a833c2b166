// The outgoing mail message (TPostMessage) and the text that carries it: header lines, a single text/plain
// body or a multipart/mixed body with Base64 attachments.
//
// The text is produced by a stream (MessageStream) rather than built in memory, because attachments are
// archives of any size: the header and the text part are prepared at once, each attachment is read 45 bytes
// per Base64 line while the transport pulls. Every attachment is opened when the stream is made, so a missing
// file fails the send before a byte reaches the server, and the exact length is known up front for progress.
//
// Dot-stuffing is an option of the stream: the SMTP transport (libcurl) doubles a leading "." on every line
// itself, so the text handed to it must not be stuffed a second time; the stuffed form is what goes on the
// wire of a hand-made dialogue and what the tests compare against.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace varnok::mail {

// Subtypes of the text part.
enum class TSubType { mtPlain, mtEnriched, mtSgml, mtTabSeperated, mtHtml };

struct TPostMessage {
    std::string FromAddress, FromName, ReplyTo, Subject, Date, LocalProgram;
    // Each entry a bare address, "Name <address>", or "prefix:address".
    std::vector<std::string> ToAddress, ToCarbonCopy, ToBlindCarbonCopy;
    std::vector<std::string> Body;         // lines without line ends
    std::vector<std::string> Attachments;  // full paths
    void Clear();
};

// A failure of building or sending a message; what() is the text shown to the user.
class MailError : public std::runtime_error {
  public:
    enum class Kind {
        HeaderIncomplete,
        AttachmentNotFound,
        AttachmentRead,
        Connect,
        Canceled,
        Authentication,
        Tls,
        Refused,
        ConnectionLost,
        Other
    };
    MailError(Kind kind, const std::string& text) : std::runtime_error(text), kind_(kind) {}
    Kind GetKind() const { return kind_; }

  private:
    Kind kind_;
};

// The bare address of an address-list entry: the text between "<" and ">" when a "<" is present, else the text
// after the first ":" when a ":" is present, else the whole text; surrounding blanks removed.
std::string ExtractAddress(const std::string& entry);
// Every non-empty bare address of To, then Cc, then Bcc, in order.
std::vector<std::string> Recipients(const TPostMessage& m);
// A list entry of the To field may hold several addresses separated by "," or ";": the entries, trimmed.
// Commas inside double quotes or angle brackets do not separate.
std::vector<std::string> SplitAddressList(const std::string& text);

// "====================54535" + 6 random letters a-y + "====".
std::string MakeBoundary();
// RFC 5322 date of a moment in local time: "Tue, 10 Dec 2024 10:47:00 +0100".
std::string RfcDate(std::time_t t);
// One Base64 line (RFC 2045 alphabet, "=" padding) of at most 45 bytes, without its line end.
std::string Base64Line(const uint8_t* data, size_t n);

struct MessageOptions {
    std::string Charset = "us-ascii";
    TSubType SubType = TSubType::mtPlain;
    // Double a leading "." of every body line (a hand-made dialogue); off for transports that do it.
    bool DotStuff = true;
    std::string Boundary;  // empty: a new one
};

// The whole message text, produced on demand.
class MessageStream {
  public:
    // Checks the header (a sender and at least one recipient, else HeaderIncomplete) and opens every
    // attachment (AttachmentNotFound naming the path when one cannot be opened as a regular file).
    MessageStream(const TPostMessage& m, MessageOptions opt = {});
    ~MessageStream();
    MessageStream(const MessageStream&) = delete;
    MessageStream& operator=(const MessageStream&) = delete;

    // Copies up to n bytes of the text; 0 at the end. Throws AttachmentRead when a file fails or changes
    // length while it is read.
    size_t Read(char* buf, size_t n);
    // The exact length of the whole text.
    uint64_t Size() const { return size_; }
    // The header lines, ended by the blank line.
    const std::string& Header() const { return header_; }
    const std::string& Boundary() const { return boundary_; }

  private:
    struct Attachment;
    bool Refill();

    std::string header_, boundary_;
    std::vector<std::unique_ptr<Attachment>> files_;
    std::string pending_;  // text produced and not yet read
    size_t pendingPos_ = 0;
    size_t next_ = 0;      // next attachment to start, or files_.size() + 1 once the closing line is queued
    Attachment* current_ = nullptr;
    bool multipart_ = false;
    uint64_t size_ = 0;
};

// The whole text at once (tests and small messages).
std::string BuildMessageText(const TPostMessage& m, const MessageOptions& opt = {});

}  // namespace varnok::mail
