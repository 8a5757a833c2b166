#include "archive/core/wildcard.h"

#include <cstdint>

namespace varnok {
namespace {

char Up(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

bool OnlyStars(std::string_view s) {
    return s.find_first_not_of('*') == std::string_view::npos;
}

// Matching with a memo of positions already known to fail, so that names full of "*" cannot make it
// exponential.
class Matcher {
  public:
    Matcher(std::string_view a, std::string_view b)
        : a_(a), b_(b), failed_((a.size() + 1) * (b.size() + 1), 0) {}
    bool Run(size_t i, size_t j) {
        uint8_t& memo = failed_[i * (b_.size() + 1) + j];
        if (memo) return false;
        bool r = Step(i, j);
        if (!r) memo = 1;
        return r;
    }

  private:
    bool Step(size_t i, size_t j) {
        while (i < a_.size() && j < b_.size()) {
            char ca = a_[i], cb = b_[j];
            if (ca == '?' || cb == '?') {
                ++i;
                ++j;
                continue;
            }
            if (ca == '*') {
                ++i;
                if (i == a_.size()) return true;
                for (size_t k = j; k < b_.size(); ++k)
                    if (Run(i, k)) return true;
                return false;
            }
            if (cb == '*') {
                ++j;
                if (j == b_.size()) return true;
                for (size_t k = i; k < a_.size(); ++k)
                    if (Run(k, j)) return true;
                return false;
            }
            if (Up(ca) != Up(cb)) return false;
            ++i;
            ++j;
        }
        if (i == a_.size()) return OnlyStars(b_.substr(j));
        return OnlyStars(a_.substr(i));
    }

    std::string_view a_, b_;
    std::vector<uint8_t> failed_;
};

// Splits at the last "/": folder part (without the trailing "/", except a lone "/") and file part.
void SplitName(std::string_view s, std::string_view& dir, std::string_view& file) {
    size_t p = s.find_last_of('/');
    if (p == std::string_view::npos) {
        dir = {};
        file = s;
        return;
    }
    dir = p == 0 ? s.substr(0, 1) : s.substr(0, p);
    file = s.substr(p + 1);
}

std::string_view ExtOf(std::string_view file) {
    size_t p = file.find_last_of('.');
    return p == std::string_view::npos ? std::string_view() : file.substr(p);
}

}  // namespace

bool WildcardMatch(std::string_view a, std::string_view b) {
    if (!a.empty() && a.back() == '.') a.remove_suffix(1);
    if (!b.empty() && b.back() == '.') b.remove_suffix(1);
    if (a.empty() && b.empty()) return true;
    if (a.empty()) return b[0] == '*';
    if (b.empty()) return a[0] == '*';
    Matcher m(a, b);
    return m.Run(0, 0);
}

bool NameMatchesSpec(std::string_view name, std::string_view spec) {
    std::string_view nd, nf, sd, sf;
    SplitName(name, nd, nf);
    SplitName(spec, sd, sf);
    if (spec.find('/') != std::string_view::npos && !WildcardMatch(nd, sd)) return false;
    if (!WildcardMatch(nf, sf)) return false;
    return WildcardMatch(ExtOf(nf), ExtOf(sf));
}

bool SpecMatch(std::string_view name, const std::vector<std::string>& fileSpec,
               const std::vector<std::string>& excludeSpec) {
    if (name.empty()) return false;
    bool selected = false;
    for (const auto& s : fileSpec) {
        if (s == "*.*" || NameMatchesSpec(name, s)) {
            selected = true;
            break;
        }
    }
    if (!selected) return false;
    for (const auto& s : excludeSpec)
        if (s == "*.*" || NameMatchesSpec(name, s)) return false;
    return true;
}

}  // namespace varnok
