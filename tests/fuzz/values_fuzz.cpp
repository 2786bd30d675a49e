// Every value operation on arbitrary bytes, checked against the rules that must hold for any input.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "tests/fuzz/fuzz_input.h"
#include "values/values.h"

using fuzz::Require;

namespace {

bool HighBit(char byte) { return static_cast<uint8_t>(byte) >= 0x80; }
char Fold(char byte) { return (byte >= 'A' && byte <= 'Z') ? static_cast<char>(byte + 0x20) : byte; }
bool AllAscii(std::string_view text) { return std::none_of(text.begin(), text.end(), HighBit); }

// The operations give the absent value for an empty result, and stored bytes otherwise.
void RequireResult(const Text& result, std::string_view expected, const char* rule) {
    Require(result.IsAbsent() == expected.empty(), rule);
    Require(result.View() == expected, rule);
}

// A count or position near the text's edges most of the time, any 32-bit value otherwise.
int32_t NearOrAny(int32_t raw, size_t length) {
    if (raw & 1) return raw;
    int64_t span = static_cast<int64_t>(length) + 4;
    return static_cast<int32_t>((static_cast<int64_t>(static_cast<uint32_t>(raw) >> 1) % span) - 2);
}

void CheckCuts(TextRef text, int32_t count, int32_t start) {
    std::string_view t = text.View();
    const size_t n = t.size();
    Require(TextLength(text) == static_cast<int32_t>(n), "TextLength counts the bytes before the NUL");

    size_t kept = count <= 0 ? 0 : std::min(n, static_cast<size_t>(count));
    RequireResult(TextLeft(text, count), t.substr(0, kept), "TextLeft gives the first count bytes");
    RequireResult(TextRight(text, count), t.substr(n - kept), "TextRight gives the last count bytes");

    std::string_view mid;
    if (start >= 1 && static_cast<size_t>(start) <= n && count > 0)
        mid = t.substr(static_cast<size_t>(start) - 1, static_cast<size_t>(count));
    RequireResult(TextMid(text, start, count), mid, "TextMid gives count bytes from start");

    for (int32_t k : {count, start}) {
        if (k < 0 || static_cast<size_t>(k) > n) continue;
        Text joined = JoinText({TextLeft(text, k), TextRight(text, static_cast<int32_t>(n) - k)});
        Require(joined.View() == t, "TextLeft(t, k) + TextRight(t, len - k) = t");
    }
    RequireResult(CopyText(text), t, "a copy of a text is the text, absent when empty");
}

void CheckFind(TextRef text, TextRef sought, int32_t start, Case letterCase) {
    std::string_view t = text.View();
    std::string_view s = sought.View();
    const size_t n = t.size();
    const size_t m = s.size();
    const size_t p0 = start >= 1 ? static_cast<size_t>(start) - 1 : 0;
    int32_t found = FindText(text, sought, start, letterCase);
    Require(found == -1 || (found >= 1 && static_cast<size_t>(found) <= n), "FindText gives -1 or 1..length");
    if (m == 0) {
        Require(found == (p0 < n ? 1 : -1), "an empty sought text is found at 1 in a non-empty searched part");
        return;
    }
    if (found == -1) {
        if (letterCase == Case::Sensitive && AllAscii(t) && p0 < n)
            Require(t.find(s, p0) == std::string_view::npos, "FindText misses no plain occurrence");
        return;
    }
    const size_t at = static_cast<size_t>(found) - 1;
    Require(at >= p0 && at + m <= n, "a match lies in the searched part");
    for (size_t i = 0; i < m; ++i) {
        bool same = letterCase == Case::Ignore ? Fold(t[at + i]) == Fold(s[i]) : t[at + i] == s[i];
        Require(same, "the sought bytes are at the position found");
    }
    // Stepping from the start by characters must land on the match: no match starts on a second byte.
    size_t q = p0;
    while (q < at) q += HighBit(t[q]) ? 2 : 1;
    Require(q == at, "a match begins on a character");
    if (letterCase == Case::Sensitive && AllAscii(t))
        Require(t.find(s, p0) == at, "FindText gives the first plain occurrence");
}

void CheckReplace(TextRef text, int32_t start, int32_t count, TextRef replacement) {
    std::string_view t = text.View();
    std::string_view r = replacement.View();
    const size_t n = t.size();
    const size_t p = start < 1 ? 0 : std::min(n, static_cast<size_t>(start) - 1);
    const size_t removed = count > 0 ? std::min(n - p, static_cast<size_t>(count)) : 0;
    std::string expected(t.substr(0, p));
    expected.append(r);
    expected.append(t.substr(p + removed));
    RequireResult(ReplaceTextAt(text, start, count, replacement), expected,
                  "ReplaceTextAt removes count bytes at start and puts the replacement there");
    RequireResult(ReplaceTextAt(text, start, 0), t, "ReplaceTextAt(t, s, 0) = t");
}

void CheckCase(TextRef text) {
    std::string_view t = text.View();
    Text upper = ToUpperText(text);
    Text lower = ToLowerText(text);
    Require(upper.IsAbsent() == t.empty() && lower.IsAbsent() == t.empty(), "case mapping gives absent for empty");
    Require(upper.View().size() == t.size() && lower.View().size() == t.size(), "case mapping keeps the length");
    for (size_t i = 0; i < t.size(); ++i) {
        if (HighBit(t[i])) {
            Require(upper.View()[i] == t[i] && lower.View()[i] == t[i], "a lead byte stays");
            if (i + 1 < t.size()) {
                ++i;
                Require(upper.View()[i] == t[i] && lower.View()[i] == t[i], "a second byte stays");
            }
            continue;
        }
        char c = t[i];
        char wantUpper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c;
        char wantLower = Fold(c);
        Require(upper.View()[i] == wantUpper && lower.View()[i] == wantLower, "only ASCII letters change case");
    }
    if (AllAscii(t)) {
        Require(CompareText(upper, lower, Case::Ignore) == 0, "upper and lower forms compare equal ignoring case");
        Require(CompareText(upper, text, Case::Ignore) == 0, "the upper form compares equal to the text");
    }
}

int Sign(int value) { return (value > 0) - (value < 0); }

void CheckCompare(TextRef a, TextRef b) {
    std::string_view x = a.View();
    std::string_view y = b.View();
    int32_t exact = CompareTextExact(a, b);
    Require(exact == -1 || exact == 0 || exact == 1, "CompareTextExact gives -1, 0 or 1");
    Require(exact == -CompareTextExact(b, a), "CompareTextExact is antisymmetric");
    Require((exact == 0) == (x == y), "CompareTextExact is 0 exactly for equal bytes");
    // char_traits<char> orders bytes as unsigned, as the program does.
    Require(exact == Sign(x.compare(y)), "CompareTextExact orders unsigned bytes");
    Require(CompareTextExact(a, a) == 0, "a text equals itself");

    for (Case letterCase : {Case::Sensitive, Case::Ignore}) {
        int32_t order = CompareText(a, b, letterCase);
        Require(order == -1 || order == 0 || order == 1, "CompareText gives -1, 0 or 1");
        Require(order == -CompareText(b, a, letterCase), "CompareText is antisymmetric");
        Require(CompareText(a, a, letterCase) == 0, "CompareText(a, a) = 0");
    }
    if (AllAscii(x) && AllAscii(y))
        Require(CompareText(a, b, Case::Sensitive) == exact, "case-sensitive CompareText of ASCII is byte order");
    if (x == y) Require(CompareText(a, b, Case::Ignore) == 0, "equal texts compare equal ignoring case");
}

void CheckJoinAndBytes(TextRef a, TextRef b, std::string_view raw) {
    std::string_view x = a.View();
    std::string_view y = b.View();
    Text joined = JoinText({a, b});
    Require(!joined.IsAbsent(), "JoinText always gives a stored text");
    Require(joined.View() == std::string(x) + std::string(y), "JoinText puts the parts one after the other");
    Require(!JoinText({}).IsAbsent() && !JoinText({nullptr, nullptr}).IsAbsent(), "an empty join is stored");

    ByteArray bytes = ByteArray::FromBytes({reinterpret_cast<const uint8_t*>(x.data()), x.size()});
    Require(bytes.IsAbsent() == x.empty() && BytesLength(bytes) == static_cast<int32_t>(x.size()),
            "a byte array holds its count");
    RequireResult(BytesToText(bytes), x, "BytesToText of a text's bytes = the text");

    ByteArray rawBytes = ByteArray::FromBytes({reinterpret_cast<const uint8_t*>(raw.data()), raw.size()});
    RequireResult(BytesToText(rawBytes), raw.substr(0, raw.find('\0')), "BytesToText stops at the first NUL");

    ByteArray both = JoinBytes({bytes, nullptr, rawBytes});
    const size_t total = x.size() + raw.size();
    Require(both.IsAbsent() == (total == 0), "JoinBytes gives absent for no bytes");
    Require(BytesLength(both) == static_cast<int32_t>(total), "JoinBytes adds the counts");
    if (total > 0) {
        const uint8_t* block = both.Block();
        Require(block[0] == 1 && block[1] == 0 && block[2] == 0 && block[3] == 0, "storage form begins with 1");
        uint32_t count = block[4] | block[5] << 8 | block[6] << 16 | static_cast<uint32_t>(block[7]) << 24;
        Require(count == total, "storage form holds the little-endian count");
        std::string_view joined(reinterpret_cast<const char*>(both.Data()), total);
        Require(joined.substr(0, x.size()) == x && joined.substr(x.size()) == raw,
                "JoinBytes puts the bytes one after the other");
    }
    Require(CopyBytes(both).Bytes().size() == total, "a copy of a byte array has its count");
}

void CheckBytesLeft(std::string_view raw, int32_t count) {
    ByteArray bytes = ByteArray::FromBytes({reinterpret_cast<const uint8_t*>(raw.data()), raw.size()});
    ByteArray left = BytesLeft(bytes, count);
    size_t kept = count <= 0 ? 0 : std::min(raw.size(), static_cast<size_t>(count));
    Require(left.IsAbsent() == (kept == 0) && left.Bytes().size() == kept, "BytesLeft keeps the first count bytes");
    Require(std::string_view(reinterpret_cast<const char*>(left.Data()), kept) == raw.substr(0, kept),
            "BytesLeft copies the bytes");
    Require(BytesLength(nullptr) == 0, "an absent byte array has no bytes");
}

void CheckBlanks(int32_t count) {
    // Large counts are real allocations: the fuzzer's memory limit would report them, not a fault.
    int32_t small = count % 4096;
    Text blanks = BlankText(small);
    ByteArray zeros = BlankBytes(small);
    size_t expected = small > 0 ? static_cast<size_t>(small) : 0;
    Require(blanks.IsAbsent() == (expected == 0) && blanks.View() == std::string(expected, ' '),
            "BlankText gives count blanks");
    Require(zeros.IsAbsent() == (expected == 0) && zeros.Bytes().size() == expected &&
                std::all_of(zeros.Bytes().begin(), zeros.Bytes().end(), [](uint8_t b) { return b == 0; }),
            "BlankBytes gives count zero bytes");
    Require(BlankText(std::min(count, 0)).IsAbsent(), "BlankText of 0 or less is absent");
}

void CheckNumbers(int32_t number, double real, TextRef text) {
    Text digits = NumberToText(number);
    Require(digits.View() == std::to_string(number), "NumberToText writes plain decimal");
    Require(TextToNumber(digits) == static_cast<double>(number), "NumberToText then TextToNumber gives the number");

    double parsed = TextToNumber(text);
    Require(!std::isnan(parsed), "TextToNumber never gives not-a-number");

    int32_t truncated = RealToInt32(real);
    if (std::isfinite(real) && std::fabs(real) < 2147483648.0)
        Require(truncated == static_cast<int32_t>(std::trunc(real)), "RealToInt32 truncates toward zero");
    (void)RealToInt32(parsed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    const uint8_t flags = input.Byte();
    const int32_t rawCount = input.Take<int32_t>();
    const int32_t rawStart = input.Take<int32_t>();
    const int32_t number = input.Take<int32_t>();
    const double real = input.Take<double>();
    const std::string_view raw = input.Rest();

    // Texts hold no NUL: the rest splits at NULs into the text, the sought text and the replacement.
    fuzz::Input pieces(reinterpret_cast<const uint8_t*>(raw.data()), raw.size());
    const Text first = Text::FromBytes(pieces.Until(0));
    const Text second = Text::FromBytes(pieces.Until(0));
    const Text third = Text::FromBytes(pieces.Until(0));
    // An empty piece is passed as the absent value or as a stored empty text.
    const Text storedEmpty = Text::StoredFromBytes("");
    auto ref = [&](const Text& text, int bit) -> TextRef {
        return text.IsAbsent() && (flags >> bit & 1) ? TextRef(storedEmpty) : TextRef(text);
    };
    const TextRef text = ref(first, 0);
    const TextRef sought = ref(second, 1);
    const TextRef replacement = ref(third, 2);
    const size_t length = text.View().size();
    const int32_t count = NearOrAny(rawCount, length);
    const int32_t start = NearOrAny(rawStart, length);

    CheckCuts(text, count, start);
    CheckFind(text, sought, start, (flags & 8) ? Case::Ignore : Case::Sensitive);
    CheckFind(text, sought, rawStart, Case::Ignore);
    CheckReplace(text, start, count, replacement);
    CheckCase(text);
    CheckCompare(text, sought);
    CheckJoinAndBytes(text, sought, raw);
    CheckBytesLeft(raw, count);
    CheckBlanks(rawCount);
    CheckNumbers(number, real, text);
    return 0;
}
