// The name filter and the search pattern against a plain reference matcher: they must agree on
// every pattern and name.
#include "LikePattern.h"
#include "SearchPattern.h"
#include "check.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// The rules written the slow, obvious way: recursion with memo over code points.
struct Element {
    enum Kind { Literal, Any, Digit, Star, Set };
    explicit Element(Kind k, char32_t ch = 0) : kind(k), c(ch) {}
    Kind kind;
    char32_t c;
    bool negated = false;
    std::vector<std::pair<char32_t, char32_t>> ranges;
};

std::vector<Element> compile(const std::u32string& p) {
    std::vector<Element> out;
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (p[i] == U'*') {
            out.emplace_back(Element::Star);
        } else if (p[i] == U'?') {
            out.emplace_back(Element::Any);
        } else if (p[i] == U'#') {
            out.emplace_back(Element::Digit);
        } else if (p[i] == U'[' && p.find(U']', i + 1) != std::u32string::npos) {
            const std::size_t end = p.find(U']', i + 1);
            if (end == i + 1) {
                i = end;
                continue;
            }
            Element e(Element::Set);
            std::size_t j = i + 1;
            if (p[j] == U'!') {
                e.negated = true;
                ++j;
            }
            while (j < end) {
                if (j + 2 < end && p[j + 1] == U'-') {
                    if (p[j] <= p[j + 2]) {
                        e.ranges.emplace_back(p[j], p[j + 2]);
                    }
                    j += 3;
                } else {
                    e.ranges.emplace_back(p[j], p[j]);
                    ++j;
                }
            }
            out.push_back(e);
            i = end;
        } else {
            out.emplace_back(Element::Literal, p[i]);
        }
    }
    return out;
}

bool one(const Element& e, char32_t c) {
    switch (e.kind) {
    case Element::Literal:
        return e.c == c;
    case Element::Any:
        return true;
    case Element::Digit:
        return c >= U'0' && c <= U'9';
    case Element::Set: {
        bool in = false;
        for (const auto& [lo, hi] : e.ranges) {
            in = in || (c >= lo && c <= hi);
        }
        return in != e.negated;
    }
    case Element::Star:
        break;
    }
    return false;
}

bool reference(const std::vector<Element>& p, const std::u32string& s) {
    // matches[i][j]: pattern from i matches name from j.
    std::vector<std::vector<char>> m(p.size() + 1, std::vector<char>(s.size() + 1, 0));
    m[p.size()][s.size()] = 1;
    for (std::size_t i = p.size(); i-- > 0;) {
        for (std::size_t j = s.size() + 1; j-- > 0;) {
            if (p[i].kind == Element::Star) {
                m[i][j] = m[i + 1][j] || (j < s.size() && m[i][j + 1]);
            } else {
                m[i][j] = j < s.size() && one(p[i], s[j]) && m[i + 1][j + 1];
            }
        }
    }
    return m[0][0] != 0;
}

std::u32string codePoints(const QString& text) {
    std::u32string out;
    for (const uint c : text.toUcs4()) {
        out.push_back(static_cast<char32_t>(c));
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > 600) {
        return 0;
    }
    const std::size_t split = std::min<std::size_t>(data[0], size - 1);
    const QString pattern =
        QString::fromUtf8(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(split));
    const QString name = QString::fromUtf8(reinterpret_cast<const char*>(data + 1 + split),
                                           static_cast<qsizetype>(size - 1 - split));
    const kartoma::LikePattern like(pattern);
    const bool got = like.matches(name);
    const bool want = reference(compile(codePoints(pattern.toUpper())), codePoints(name.toUpper()));
    FUZZ_CHECK(got == want);
    // The search folds both sides, then finds a plain word anywhere in the name.
    std::u32string folded = kartoma::foldForSearch(pattern);
    if (folded.find_first_of(U"*?#[") == std::u32string::npos) {
        folded = U'*' + folded + U'*';
    }
    FUZZ_CHECK(kartoma::SearchPattern(pattern).matches(name) ==
               reference(compile(folded), kartoma::foldForSearch(name)));
    return 0;
}
