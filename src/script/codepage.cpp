#include "script/codepage.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tessara::script {

namespace {

constexpr int kOemCodePage = 1;
constexpr int kMacCodePage = 2;
constexpr int kSymbolCodePage = 42;

// How one Windows code page is converted.
struct CodePageEntry {
    bool valid = false;
    bool symbol = false;   // code page 42: bytes live at U+F000 + byte, done without ICU
    std::string icu_name;  // canonical ICU converter name
    // IBM-derived ICU tables swap the PC control codes 0x1A, 0x1C and 0x7F; Windows keeps them
    // as themselves, so those bytes are converted as identity around the ICU calls.
    bool fix_pc_controls = false;
    // Bytes 0x00-0x7F decode to the same code points, so ASCII-only text needs no conversion.
    bool ascii_identity = false;
};

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// Opens a converter that stops at the first invalid byte or unmappable character instead of
// substituting, so that a failed conversion is reported rather than hidden.
ConverterPtr open_strict(const char* name) {
    UErrorCode err = U_ZERO_ERROR;
    ConverterPtr conv(ucnv_open(name, &err));
    if (U_FAILURE(err) || !conv) {
        return nullptr;
    }
    ucnv_setToUCallBack(conv.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
    ucnv_setFromUCallBack(conv.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
    if (U_FAILURE(err)) {
        return nullptr;
    }
    return conv;
}

// ICU names to try for a Windows code page, most specific first.
std::vector<std::string> candidate_names(int code_page) {
    switch (code_page) {
        case kOemCodePage:
            return {"ibm-437"};
        case kMacCodePage:
            return {"macintosh"};
        case 20936:
            // ICU has no GB2312-only Windows table. GBK (936) decodes every GB2312 byte sequence
            // the same way Windows' 20936 does and also accepts the GBK extensions that text
            // tagged as GB2312 commonly contains.
            return {"windows-936"};
        case 28591:
        case 28592:
        case 28593:
        case 28594:
        case 28595:
        case 28596:
        case 28597:
        case 28598:
        case 28599:
            return {"iso-8859-" + std::to_string(code_page - 28590)};
        case 28603:
            return {"iso-8859-13"};
        case 28605:
            return {"iso-8859-15"};
        default:
            break;
    }
    std::string n = std::to_string(code_page);
    return {"windows-" + n, "cp" + n, "ibm-" + n};
}

bool swaps_pc_controls(UConverter* conv) {
    UErrorCode err = U_ZERO_ERROR;
    UChar out[4] = {};
    int32_t len = ucnv_toUChars(conv, out, 4, "\x1a", 1, &err);
    return U_SUCCESS(err) && len == 1 && out[0] == 0x1C;
}

bool maps_ascii_to_itself(UConverter* conv) {
    char bytes[128];
    for (int i = 0; i < 128; ++i) {
        bytes[i] = static_cast<char>(i);
    }
    UErrorCode err = U_ZERO_ERROR;
    UChar out[256] = {};
    int32_t len = ucnv_toUChars(conv, out, 256, bytes, 128, &err);
    ucnv_reset(conv);
    if (U_FAILURE(err) || len != 128) {
        return false;
    }
    for (int i = 0; i < 128; ++i) {
        if (out[i] != i) {
            return false;
        }
    }
    return true;
}

CodePageEntry resolve(int code_page) {
    CodePageEntry entry;
    if (code_page == kSymbolCodePage) {
        entry.valid = true;
        entry.symbol = true;
        return entry;
    }
    if (code_page <= 0 || code_page > 65535) {
        return entry;
    }
    for (const std::string& name : candidate_names(code_page)) {
        ConverterPtr conv = open_strict(name.c_str());
        if (!conv) {
            continue;
        }
        UErrorCode err = U_ZERO_ERROR;
        const char* canonical = ucnv_getName(conv.get(), &err);
        entry.valid = true;
        entry.icu_name = U_SUCCESS(err) && canonical != nullptr ? canonical : name;
        entry.fix_pc_controls = swaps_pc_controls(conv.get());
        entry.ascii_identity = maps_ascii_to_itself(conv.get());
        break;
    }
    return entry;
}

// Code page lookups are resolved once; ICU keeps the opened tables shared, so opening a
// converter per conversion afterwards is cheap.
const CodePageEntry& lookup(int code_page) {
    static std::mutex mutex;
    static std::map<int, CodePageEntry> cache;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = cache.find(code_page);
    if (it == cache.end()) {
        it = cache.emplace(code_page, resolve(code_page)).first;
    }
    return it->second;
}

bool is_pc_control(char16_t c) {
    return c == 0x1A || c == 0x1C || c == 0x7F;
}

bool icu_decode(UConverter* conv, const std::string& bytes, std::u16string& out) {
    if (bytes.empty()) {
        return true;
    }
    auto length = static_cast<int32_t>(bytes.size());
    std::u16string buf(bytes.size() * 2 + 4, u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode err = U_ZERO_ERROR;
        int32_t n = ucnv_toUChars(conv, buf.data(), static_cast<int32_t>(buf.size()), bytes.data(),
                                  length, &err);
        if (err == U_BUFFER_OVERFLOW_ERROR && attempt == 0) {
            buf.assign(static_cast<size_t>(n) + 1, u'\0');
            continue;
        }
        if (U_FAILURE(err)) {
            return false;
        }
        out.append(buf.data(), static_cast<size_t>(n));
        return true;
    }
    return false;
}

bool icu_encode(UConverter* conv, std::u16string_view text, std::u16string& out) {
    if (text.empty()) {
        return true;
    }
    auto length = static_cast<int32_t>(text.size());
    std::string buf(
        static_cast<size_t>(UCNV_GET_MAX_BYTES_FOR_STRING(length, ucnv_getMaxCharSize(conv))),
        '\0');
    UErrorCode err = U_ZERO_ERROR;
    int32_t n = ucnv_fromUChars(conv, buf.data(), static_cast<int32_t>(buf.size()), text.data(),
                                length, &err);
    if (U_FAILURE(err)) {
        return false;
    }
    for (int32_t i = 0; i < n; ++i) {
        out += static_cast<char16_t>(static_cast<unsigned char>(buf[static_cast<size_t>(i)]));
    }
    return true;
}

// Windows' symbol code page: control bytes stay as they are, every other byte b is U+F000 + b
// (where symbol fonts place their glyphs).
std::u16string decode_symbol(std::u16string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (char16_t b : bytes) {
        out += b < 0x20 ? b : static_cast<char16_t>(0xF000 + b);
    }
    return out;
}

std::optional<std::u16string> encode_symbol(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        if (c < 0x20) {
            out += c;
        } else if (c >= 0xF020 && c <= 0xF0FF) {
            out += static_cast<char16_t>(c - 0xF000);
        } else {
            return std::nullopt;
        }
    }
    return out;
}

}  // namespace

int code_page_for_charset(int charset) {
    switch (charset) {
        case 0:
        case 1:
            return 0;
        case 2:
            return 42;
        case 77:
            return 2;
        case 128:
            return 932;
        case 129:
            return 949;
        case 130:
            return 1361;
        case 134:
            return 20936;
        case 136:
            return 950;
        case 161:
            return 1253;
        case 162:
            return 1254;
        case 177:
            return 1255;
        case 178:
            return 1256;
        case 186:
            return 1257;
        case 204:
            return 1251;
        case 222:
            return 874;
        case 238:
            return 1250;
        case 255:
            return 1;
        default:
            return -1;
    }
}

int system_code_page(int mb_code_page) {
    return mb_code_page != 0 ? mb_code_page : 1252;
}

bool is_valid_code_page(int code_page) {
    return lookup(code_page).valid;
}

std::string code_page_name(int code_page) {
    const CodePageEntry& entry = lookup(code_page);
    if (!entry.valid) {
        return {};
    }
    if (entry.symbol) {
        return "Symbol";
    }
    for (const char* standard : {"IANA", "WINDOWS"}) {
        UErrorCode err = U_ZERO_ERROR;
        const char* name = ucnv_getStandardName(entry.icu_name.c_str(), standard, &err);
        if (U_SUCCESS(err) && name != nullptr && *name != '\0') {
            return name;
        }
    }
    return entry.icu_name;
}

std::optional<std::u16string> decode_8bit(std::u16string_view bytes, int code_page) {
    for (char16_t b : bytes) {
        if (b > 0xFF) {
            return std::nullopt;
        }
    }
    const CodePageEntry& entry = lookup(code_page);
    if (!entry.valid) {
        return std::nullopt;
    }
    if (entry.symbol) {
        return decode_symbol(bytes);
    }
    if (entry.ascii_identity) {
        bool ascii = true;
        for (char16_t b : bytes) {
            ascii = ascii && b < 0x80;
        }
        if (ascii) {
            return std::u16string(bytes);
        }
    }
    ConverterPtr conv = open_strict(entry.icu_name.c_str());
    if (!conv) {
        return std::nullopt;
    }
    std::u16string out;
    out.reserve(bytes.size());
    std::string segment;
    for (char16_t b : bytes) {
        if (entry.fix_pc_controls && is_pc_control(b)) {
            // These bytes are never part of a multi-byte character in the affected code pages.
            if (!icu_decode(conv.get(), segment, out)) {
                return std::nullopt;
            }
            segment.clear();
            out += b;
        } else {
            segment += static_cast<char>(static_cast<unsigned char>(b));
        }
    }
    if (!icu_decode(conv.get(), segment, out)) {
        return std::nullopt;
    }
    return out;
}

std::optional<std::u16string> encode_8bit(std::u16string_view text, int code_page) {
    const CodePageEntry& entry = lookup(code_page);
    if (!entry.valid) {
        return std::nullopt;
    }
    if (entry.symbol) {
        return encode_symbol(text);
    }
    ConverterPtr conv = open_strict(entry.icu_name.c_str());
    if (!conv) {
        return std::nullopt;
    }
    std::u16string out;
    out.reserve(text.size());
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (entry.fix_pc_controls && is_pc_control(text[i])) {
            if (!icu_encode(conv.get(), text.substr(start, i - start), out)) {
                return std::nullopt;
            }
            out += text[i];
            start = i + 1;
        }
    }
    if (!icu_encode(conv.get(), text.substr(start), out)) {
        return std::nullopt;
    }
    return out;
}

}  // namespace tessara::script
