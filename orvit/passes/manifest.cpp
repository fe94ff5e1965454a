#include "orvit/passes/manifest.h"

#include "orvit/core/text.h"
#include "orvit/passes/cryptomatte.h"

#include <cctype>
#include <cstring>
#include <stdexcept>
#include <string>

namespace orvit::passes {
namespace {

using core::inQuotes;

// A strict reader of the one JSON object a manifest is.
class ManifestReader {
  public:
    explicit ManifestReader(std::string_view text) : text_(text) {}

    CryptomatteNames read() {
        CryptomatteNames names;
        expect('{');
        if (!take('}')) {
            do {
                std::string name = string();
                expect(':');
                const size_t at = pos_;
                names.emplace_back(std::move(name), storableId(hexId(string(), at)));
            } while (take(','));
            expect('}');
        }
        blanks();
        if (pos_ != text_.size())
            fail("text after the manifest's object");
        return names;
    }

  private:
    std::string_view text_;
    size_t pos_ = 0;

    [[noreturn]] void fail(const std::string& what, size_t at) const {
        throw std::runtime_error("not a JSON object of names to ids: at byte " +
                                 std::to_string(at) + ", " + what);
    }
    [[noreturn]] void fail(const std::string& what) const { fail(what, pos_); }

    void blanks() {
        while (pos_ < text_.size() && text_[pos_] != 0 && std::strchr(" \t\r\n", text_[pos_]))
            ++pos_;
    }

    bool take(char c) {
        blanks();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    void expect(char c) {
        if (!take(c))
            fail(pos_ < text_.size() ? std::string("expected '") + c + "'"
                                     : std::string("the text ends where '") + c + "' should be");
    }

    unsigned hex4() {
        if (text_.size() - pos_ < 4)
            fail("a \\u escape is cut short");
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_++];
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                fail("a \\u escape needs 4 hex digits");
            v = v * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                                   ? c - '0'
                                                   : std::tolower(c) - 'a' + 10);
        }
        return v;
    }

    static void utf8(unsigned code, std::string& out) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    // The escape after a backslash, as UTF-8 onto `out`.
    void escape(std::string& out) {
        if (pos_ >= text_.size())
            fail("the text ends inside a string");
        const char c = text_[pos_++];
        static const char from[] = "\"\\/bfnrt", to[] = "\"\\/\b\f\n\r\t";
        if (const char* known = c ? std::strchr(from, c) : nullptr) {
            out += to[known - from];
            return;
        }
        if (c != 'u')
            fail(std::string("unknown escape \\") + c, pos_ - 1);
        unsigned code = hex4();
        if (code >= 0xDC00 && code <= 0xDFFF)
            fail("a \\u escape is a lone low surrogate");
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (text_.substr(pos_, 2) != "\\u")
                fail("a high surrogate without its low one");
            pos_ += 2;
            const unsigned low = hex4();
            if (low < 0xDC00 || low > 0xDFFF)
                fail("a high surrogate without its low one");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        utf8(code, out);
    }

    // Well-formed UTF-8: shortest forms, no surrogates, nothing past U+10FFFF.
    static bool validUtf8(const std::string& text) {
        for (size_t i = 0; i < text.size();) {
            const auto lead = static_cast<unsigned char>(text[i]);
            const int extra = lead < 0x80                   ? 0
                              : lead >= 0xC2 && lead < 0xE0 ? 1
                              : lead >= 0xE0 && lead < 0xF0 ? 2
                              : lead >= 0xF0 && lead < 0xF5 ? 3
                                                            : -1;
            if (extra < 0 || text.size() - i <= static_cast<size_t>(extra))
                return false;
            uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
            for (int k = 1; k <= extra; ++k) {
                const auto next = static_cast<unsigned char>(text[i + k]);
                if ((next & 0xC0) != 0x80)
                    return false;
                code = code << 6 | (next & 0x3F);
            }
            static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
            if (code < least[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                return false;
            i += static_cast<size_t>(extra) + 1;
        }
        return true;
    }

    std::string string() {
        blanks();
        if (pos_ >= text_.size() || text_[pos_] != '"')
            fail("expected a string");
        const size_t start = pos_++;
        std::string out;
        for (;;) {
            if (pos_ >= text_.size())
                fail("the text ends inside a string");
            const char c = text_[pos_++];
            if (c == '"') {
                if (!validUtf8(out))
                    fail("a string that is not UTF-8", start);
                return out;
            }
            if (static_cast<unsigned char>(c) < 0x20)
                fail("a control character inside a string", pos_ - 1);
            if (c == '\\')
                escape(out);
            else
                out += c;
        }
    }

    uint32_t hexId(const std::string& text, size_t at) const {
        if (text.size() != 8 ||
            text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            fail("the id " + core::inQuotes(text, '\'') + " is not 8 hex digits", at);
        return static_cast<uint32_t>(std::stoul(text, nullptr, 16));
    }
};

} // namespace

CryptomatteNames parseManifest(std::string_view json) {
    return ManifestReader(json).read();
}

} // namespace orvit::passes
