#include "checks/hosts_matcher.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Velmora::Assistant {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Byte classes, looked up: the address run is scanned at the start of every line.
enum : unsigned char { kSpace = 1, kAddress = 2 };

constexpr struct ByteClasses {
    unsigned char of[256] = {};
    constexpr ByteClasses()
    {
        // The classic-locale white space that the address part and the line tail allow.
        for (const unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'})
            of[c] = kSpace | kAddress;
        for (unsigned char c = '0'; c <= '9'; ++c)
            of[c] = kAddress;
        of[static_cast<unsigned char>('.')] = kAddress;
    }
} kClasses;

bool IsSpace(char c)
{
    return kClasses.of[static_cast<unsigned char>(c)] & kSpace;
}

bool IsAddressChar(char c)
{
    return kClasses.of[static_cast<unsigned char>(c)] & kAddress;
}

char Fold(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

struct Match {
    std::size_t begin = 0;
    std::size_t end = 0;    // one past the last byte taken
    std::size_t resume = 0; // where the search for the next match may start
};

// Reads the text as: a line feed at s; an address run text[s+1, e) of white space, digits and dots;
// the name at some p in [s+2, e] (the greediest, i.e. largest, p whose tail matches); then the
// tail. Every later start inside the same address run sees a subset of those candidates, so after
// a run has been tried the search goes on behind it: each byte is looked at a bounded number of
// times.
class Matcher {
public:
    Matcher(std::string_view text, std::string_view name) : text_(text), name_(name)
    {
        while (addressPrefix_ < name_.size() && IsAddressChar(name_[addressPrefix_]))
            ++addressPrefix_;
        budget_ = 2 * text_.size() + 1024;
    }

    bool Next(std::size_t from, Match* match)
    {
        const std::size_t n = text_.size();
        std::size_t s = text_.find('\n', from);
        while (s != std::string_view::npos) {
            std::size_t e = s + 1;
            while (e < n && IsAddressChar(text_[e]))
                ++e;
            std::size_t end = kNone;
            if (e >= s + 2) {
                if (addressPrefix_ < name_.size()) {
                    // The name's first byte outside the address class has to sit where the run
                    // ends, so there is one candidate.
                    if (e >= s + 2 + addressPrefix_ && OccursAt(e - addressPrefix_))
                        end = TailEnd(e - addressPrefix_ + name_.size());
                } else {
                    for (std::size_t p = s + 2; p + name_.size() <= e; ++p) {
                        if (OccursAt(p)) {
                            const std::size_t tail = TailEnd(p + name_.size());
                            if (tail != kNone)
                                end = tail;
                        }
                    }
                }
            }
            if (end != kNone) {
                *match = {s, end, end > e ? end : e};
                return true;
            }
            s = text_.find('\n', e);
        }
        return false;
    }

private:
    // Direct comparison is the fast way for real files; should comparisons ever cost more than a
    // couple of passes over the text (a pathological, self-similar name and text), every start of
    // the name is marked once with Knuth-Morris-Pratt instead, which keeps the whole search linear.
    bool OccursAt(std::size_t p)
    {
        if (p + name_.size() > text_.size())
            return false;
        if (indexed_)
            return occurrences_[p / 64] >> (p % 64) & 1;
        std::size_t i = 0;
        while (i < name_.size() && Fold(text_[p + i]) == Fold(name_[i]))
            ++i;
        const std::size_t cost = i + 1;
        if (cost > budget_) {
            BuildIndex();
            return occurrences_[p / 64] >> (p % 64) & 1;
        }
        budget_ -= cost;
        return i == name_.size();
    }

    void BuildIndex()
    {
        indexed_ = true;
        occurrences_.assign(text_.size() / 64 + 1, 0);
        const std::size_t m = name_.size();
        std::string folded(m, '\0');
        for (std::size_t i = 0; i < m; ++i)
            folded[i] = Fold(name_[i]);
        std::vector<std::size_t> border(m, 0);
        for (std::size_t i = 1, k = 0; i < m; ++i) {
            while (k > 0 && folded[i] != folded[k])
                k = border[k - 1];
            if (folded[i] == folded[k])
                ++k;
            border[i] = k;
        }
        for (std::size_t i = 0, k = 0; i < text_.size(); ++i) {
            const char c = Fold(text_[i]);
            while (k > 0 && c != folded[k])
                k = border[k - 1];
            if (c == folded[k])
                ++k;
            if (k == m) {
                const std::size_t start = i + 1 - m;
                occurrences_[start / 64] |= std::uint64_t{1} << (start % 64);
                k = border[k - 1];
            }
        }
    }

    // End of the tail `[white space]* ( LF | "#" comment [white space] LF )` started at q, or kNone.
    // Greedy order: the longest white-space run first, where only the comment can follow; then the
    // last line feed inside the run ends the match.
    std::size_t TailEnd(std::size_t q)
    {
        const std::size_t n = text_.size();
        std::size_t f = q;
        std::size_t lastLf = kNone;
        if (spaceFrom_ != kNone && q >= spaceFrom_ && q <= spaceEnd_) {
            f = spaceEnd_;
            lastLf = spaceLastLf_ != kNone && spaceLastLf_ >= q ? spaceLastLf_ : kNone;
        } else {
            while (f < n && IsSpace(text_[f])) {
                if (text_[f] == '\n')
                    lastLf = f;
                ++f;
            }
            spaceFrom_ = q;
            spaceEnd_ = f;
            spaceLastLf_ = lastLf;
        }

        if (f < n && text_[f] == '#') {
            // The comment runs to the first CR or LF at g; the white space before the closing line
            // feed is either that CR/LF itself (then LF at g+1) or the comment's last byte.
            std::size_t g = f + 1;
            if (commentFrom_ != kNone && g >= commentFrom_ && g <= commentEnd_) {
                g = commentEnd_;
            } else {
                const std::size_t from = g;
                while (g < n && text_[g] != '\n' && text_[g] != '\r')
                    ++g;
                commentFrom_ = from;
                commentEnd_ = g;
            }
            if (g >= f + 2 && g + 1 < n && text_[g + 1] == '\n')
                return g + 2;
            if (g >= f + 3 && g < n && text_[g] == '\n' && IsSpace(text_[g - 1]))
                return g + 1;
        }
        return lastLf != kNone ? lastLf + 1 : kNone;
    }

    std::string_view text_;
    std::string_view name_;         // never empty
    std::size_t addressPrefix_ = 0; // leading name bytes that are address characters
    std::size_t budget_ = 0;        // comparison steps left before the index is built
    bool indexed_ = false;
    std::vector<std::uint64_t> occurrences_;
    // The last white-space run and comment scanned; tails are asked for in rising order, so a
    // later tail inside one of them reuses it instead of scanning it again.
    std::size_t spaceFrom_ = kNone, spaceEnd_ = 0, spaceLastLf_ = kNone;
    std::size_t commentFrom_ = kNone, commentEnd_ = 0;
};

} // namespace

std::string LoadHostsText(std::string_view fileBytes, bool* hadCrLf)
{
    std::string text;
    text.reserve(fileBytes.size() + 2);
    text += '\n';
    bool crLf = false;
    for (std::size_t i = 0; i < fileBytes.size(); ++i) {
        if (fileBytes[i] == '\r' && i + 1 < fileBytes.size() && fileBytes[i + 1] == '\n') {
            crLf = true;
            continue;
        }
        text += fileBytes[i];
    }
    text += '\n';
    *hadCrLf = crLf;
    return text;
}

std::string HostsTextToFile(std::string_view hostsText, bool hadCrLf)
{
    std::string_view body = hostsText;
    if (body.size() > 1) {
        if (body.front() == '\n')
            body.remove_prefix(1);
        if (!body.empty() && body.back() == '\n')
            body.remove_suffix(1);
    }
    if (!hadCrLf)
        return std::string(body);
    std::string bytes;
    bytes.reserve(body.size() + body.size() / 16);
    for (const char c : body) {
        if (c == '\n')
            bytes += '\r';
        bytes += c;
    }
    return bytes;
}

bool IsHostRedirected(std::string_view hostsText, std::string_view name)
{
    if (name.empty())
        return false;
    Matcher matcher(hostsText, name);
    Match match;
    return matcher.Next(0, &match);
}

bool RemoveHostRedirects(std::string& hostsText, std::string_view name)
{
    if (name.empty())
        return false;
    Matcher matcher(hostsText, name);
    Match match;
    std::string result;
    std::size_t copied = 0;
    std::size_t from = 0;
    bool removed = false;
    while (matcher.Next(from, &match)) {
        result.append(hostsText, copied, match.begin - copied);
        result += '\n';
        copied = match.end;
        from = match.resume;
        removed = true;
    }
    if (!removed)
        return false;
    result.append(hostsText, copied, std::string::npos);
    hostsText = std::move(result);
    return true;
}

} // namespace Velmora::Assistant
