// fuzz_console_text: the console's text functions on request paths and form data:
// ConvertToComponentPath, HttpFindNameAndValue and HttpUnConvertName (the host operations plug-ins
// call) and the request target's SplitTarget, DecodePath, PercentEncode and IsLocalTarget.
//
// Every text lies in a heap block of exactly its own size (with a terminator only where the
// function's contract has one), and every output buffer is exactly the capacity the caller
// states, so a read or write past either is a heap overflow. The checks are the functions'
// contracts: a component path can be walked back into the path it came from; the field found is
// the first field of that name of a form built from known fields; a text written with any mix of
// plain bytes, "+" and %XX decodes back to itself; a decoded path keeps its components within
// 255 bytes and holds no NUL; a redirect target taken as local cannot leave the console.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "console/http_text.h"
#include "console/url.h"
#include "fuzz/input.h"

namespace kel2cifs::fuzz {
namespace {

// A heap block holding exactly `text`, followed by a terminator when `terminated`.
std::unique_ptr<char[]> Block(std::string_view text, bool terminated) {
    const std::size_t size = text.size() + (terminated ? 1 : 0);
    std::unique_ptr<char[]> block(new char[size == 0 ? 1 : size]);
    std::memcpy(block.get(), text.data(), text.size());
    if (terminated) {
        block[text.size()] = '\0';
    }
    return block;
}

std::string Shown(std::string_view text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7f) {
            static constexpr char kHex[] = "0123456789abcdef";
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0xf];
        } else {
            shown += c;
        }
    }
    return "\"" + shown + "\"";
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(at + 1);
    }
}

// A text without any of the bytes of `excluded`.
std::string Without(std::string text, std::string_view excluded) {
    for (char &c : text) {
        if (excluded.find(c) != std::string_view::npos) {
            c = 'x';
        }
    }
    return text;
}

void CheckComponentPath(FuzzedDataProvider &in) {
    const std::string text = PathText(in, 1200);
    std::unique_ptr<char[]> block = Block(text, true);
    const int count = ConvertToComponentPath(block.get());

    const std::string_view path(text.c_str());  // what the function sees: up to the first NUL
    bool convertible = !path.empty() && path[0] == '/';
    std::vector<std::string_view> components;
    if (convertible) {
        components = Split(path.substr(1), '/');
        for (const std::string_view component : components) {
            convertible = convertible && component.size() <= kel::kMaxComponentLength;
        }
    }
    if (!convertible) {
        Require(count == -1,
                "ConvertToComponentPath accepted " + Shown(path) + ": " + std::to_string(count));
        Require(std::memcmp(block.get(), text.data(), text.size()) == 0,
                "ConvertToComponentPath changed a path it refused: " + Shown(path));
        return;
    }
    Require(count == static_cast<int>(components.size()), "ConvertToComponentPath counted " +
                                                              std::to_string(count) +
                                                              " components in " + Shown(path));
    // Walk the length bytes back into the components.
    std::size_t at = 0;
    for (const std::string_view component : components) {
        const auto length = static_cast<unsigned char>(block[at]);
        Require(length == component.size() &&
                    std::string_view(block.get() + at + 1, length) == component,
                "ConvertToComponentPath wrote a wrong component of " + Shown(path));
        at += 1 + length;
    }
    Require(at == path.size() && block[at] == '\0',
            "ConvertToComponentPath did not end at the terminator of " + Shown(path));
    Require(std::memcmp(block.get() + at, text.data() + at, text.size() - at) == 0,
            "ConvertToComponentPath wrote past the terminator of " + Shown(path));
}

const std::vector<std::string_view> kFieldNames = {"name", "password", "next", "VOL", "a", ""};

// One form built of known fields, a name looked up in it and a capacity for the value.
void CheckFieldOfKnownForm(FuzzedDataProvider &in) {
    struct Field {
        std::string name;
        bool hasEquals;
        std::string value;
    };
    std::vector<Field> fields(in.ConsumeIntegralInRange<std::size_t>(0, 6));
    std::string form;
    for (Field &field : fields) {
        field.name = Without(OneOf(in, kFieldNames, 12), std::string_view("&=\0", 3));
        field.hasEquals = in.ConsumeIntegral<uint8_t>() < 224;
        field.value = field.hasEquals ? Without(PathText(in, 300), std::string_view("&\0", 2)) : "";
        if (!form.empty() || in.ConsumeIntegral<uint8_t>() >= 224) {
            form += in.ConsumeIntegral<uint8_t>() >= 224 ? "&&" : "&";  // empty fields as well
        }
        form += field.name;
        if (field.hasEquals) {
            form += "=" + field.value;
        }
    }
    const std::string name = Without(OneOf(in, kFieldNames, 12), std::string_view("\0", 1));
    const int capacity = in.ConsumeIntegralInRange<int>(-2, 320);

    const Field *expected = nullptr;
    for (const Field &field : fields) {
        // A field with neither a name nor "=" is an empty field, skipped.
        if (field.name == name && (!field.name.empty() || field.hasEquals)) {
            expected = &field;
            break;
        }
    }
    std::unique_ptr<char[]> data = Block(form, true);
    const std::size_t valueSize = capacity > 0 ? static_cast<std::size_t>(capacity) : 1;
    std::unique_ptr<char[]> value(new char[valueSize]);
    std::memset(value.get(), '*', valueSize);
    int length = capacity;
    const int result = HttpFindNameAndValue(data.get(), name.c_str(), value.get(), &length);

    const std::string what = "field " + Shown(name) + " of " + Shown(form) + " into " +
                             std::to_string(capacity) + " bytes";
    if (capacity < 1) {
        Require(result == kel::kFieldValueTooLong && length == capacity && value[0] == '*',
                "HttpFindNameAndValue wrote into no room: " + what);
        return;
    }
    if (expected != nullptr && expected->value.size() < static_cast<std::size_t>(capacity)) {
        Require(result == 0 && length == static_cast<int>(expected->value.size()) &&
                    std::string_view(value.get()) == expected->value,
                "HttpFindNameAndValue did not copy the " + what + ": result " +
                    std::to_string(result) + ", " + Shown(value.get()));
        return;
    }
    const int missing = expected == nullptr ? kel::kFieldMissing : kel::kFieldValueTooLong;
    Require(result == missing && length == capacity && value[0] == '\0',
            "HttpFindNameAndValue answered " + std::to_string(result) + " for the " + what);
}

// Any form data and name: whatever is found is a field of the data.
void CheckFieldOfAnyForm(FuzzedDataProvider &in) {
    const std::string form = PathText(in, 600);
    const std::string name = Text(in, 16);
    const int capacity = in.ConsumeIntegralInRange<int>(1, 700);
    std::unique_ptr<char[]> data = Block(form, true);
    std::unique_ptr<char[]> nameBlock = Block(name, true);
    std::unique_ptr<char[]> value(new char[static_cast<std::size_t>(capacity)]);
    int length = capacity;
    const int result = HttpFindNameAndValue(data.get(), nameBlock.get(), value.get(), &length);
    if (result != 0) {
        Require(value[0] == '\0' && length == capacity,
                "HttpFindNameAndValue left a value after failing on " + Shown(form));
        return;
    }
    Require(length >= 0 && length < capacity && value[length] == '\0' &&
                std::strlen(value.get()) == static_cast<std::size_t>(length),
            "HttpFindNameAndValue's value and length disagree on " + Shown(form));
    const std::string_view wanted(nameBlock.get());
    const std::string_view found(value.get(), static_cast<std::size_t>(length));
    bool isField = false;
    for (const std::string_view field : Split(std::string_view(data.get()), '&')) {
        const std::size_t equals = field.find('=');
        const std::string_view fieldName = field.substr(0, equals);
        const std::string_view fieldValue =
            equals == std::string_view::npos ? std::string_view() : field.substr(equals + 1);
        if (!field.empty() && fieldName == wanted) {
            isField = fieldValue == found;
            break;
        }
    }
    Require(isField, "HttpFindNameAndValue found " + Shown(found) + " for " + Shown(wanted) +
                         ", which is not that field's value in " + Shown(form));
}

// Bytes written with any mix of plain bytes, "+" for a blank and %XX decode back to themselves,
// from a block without a terminator or with one and a longer length.
void CheckDecodeRoundTrip(FuzzedDataProvider &in) {
    const std::string original = Without(PathText(in, 400), std::string_view("\0", 1));
    const bool terminated = in.ConsumeBool();
    std::string encoded;
    for (const char c : original) {
        const uint8_t how = in.ConsumeIntegral<uint8_t>();
        if (c == ' ' && how < 128) {
            encoded += '+';
        } else if (c != '%' && c != '+' && how < 192) {
            encoded += c;
        } else {
            std::string hex = PercentEncodeAll(std::string_view(&c, 1));
            if ((how & 1) != 0) {
                for (char &digit : hex) {
                    digit = static_cast<char>(digit >= 'A' && digit <= 'F' ? digit + 32 : digit);
                }
            }
            encoded += hex;
        }
    }
    const int extra = terminated ? in.ConsumeIntegralInRange<int>(0, 64) : 0;
    std::unique_ptr<char[]> block = Block(encoded, terminated);
    const int length = static_cast<int>(encoded.size()) + extra;
    std::unique_ptr<char[]> output(new char[static_cast<std::size_t>(length) + 1]);
    const int decoded = HttpUnConvertName(block.get(), output.get(), length);
    Require(decoded == static_cast<int>(original.size()) &&
                std::string_view(output.get(), original.size()) == original &&
                output[original.size()] == '\0',
            "HttpUnConvertName decoded " + Shown(encoded) + " as " + Shown(output.get()) +
                " instead of " + Shown(original));
}

// Any bytes and any length the block allows: the output is terminated and never longer.
void CheckDecodeAny(FuzzedDataProvider &in) {
    const std::string encoded = PathText(in, 600);
    const int length = in.ConsumeIntegralInRange<int>(-3, static_cast<int>(encoded.size()));
    std::unique_ptr<char[]> block = Block(encoded, false);
    const std::size_t outputSize = (length > 0 ? static_cast<std::size_t>(length) : 0) + 1;
    std::unique_ptr<char[]> output(new char[outputSize]);
    std::memset(output.get(), '*', outputSize);
    const int decoded = HttpUnConvertName(block.get(), output.get(), length);
    const std::size_t readable =
        length > 0 ? strnlen(block.get(), static_cast<std::size_t>(length)) : 0;
    Require(
        decoded >= 0 && static_cast<std::size_t>(decoded) <= readable && output[decoded] == '\0',
        "HttpUnConvertName gave " + std::to_string(decoded) + " bytes for " +
            std::to_string(readable) + " of " + Shown(encoded));
}

// A path written with PercentEncode decodes back to itself unless a component is too long or it
// holds a NUL; a target split at its first "?" keeps both halves whole.
void CheckTargetRoundTrip(FuzzedDataProvider &in) {
    const std::string path = "/" + PathText(in, 700);
    const std::string query = Text(in, 64);
    const bool withQuery = in.ConsumeBool();
    const std::string target = kel::console::PercentEncode(path) + (withQuery ? "?" + query : "");

    kel::console::Target split;
    Require(kel::console::SplitTarget(target, &split), "SplitTarget refused " + Shown(target));
    Require(split.path == kel::console::PercentEncode(path) && split.hasQuery == withQuery &&
                split.query == (withQuery ? query : ""),
            "SplitTarget split " + Shown(target) + " wrongly");

    bool tooLong = false;
    for (const std::string_view component : Split(path, '/')) {
        tooLong = tooLong || component.size() > kel::kMaxComponentLength;
    }
    const std::size_t nul = path.find('\0');
    std::string decoded;
    const int result = kel::console::DecodePath(split.path, &decoded);
    if (!tooLong && nul == std::string::npos) {
        Require(result == 0 && decoded == path, "DecodePath gave " + std::to_string(result) + ", " +
                                                    Shown(decoded) + " for " + Shown(path));
    } else if (tooLong && nul == std::string::npos) {
        Require(result == kel::console::kComponentTooLong,
                "DecodePath let a component over 255 bytes through: " + std::to_string(result));
    } else {
        Require(result != 0, "DecodePath let a NUL through: " + Shown(path));
    }
}

// Any raw path: what decodes is no longer than the raw path, holds no NUL and no component over
// 255 bytes.
void CheckDecodeAnyPath(FuzzedDataProvider &in) {
    const std::string raw = PathText(in, 900);
    std::string decoded;
    if (kel::console::DecodePath(raw, &decoded) != 0) {
        return;
    }
    Require(decoded.size() <= raw.size() && decoded.find('\0') == std::string::npos,
            "DecodePath decoded " + Shown(raw) + " as " + Shown(decoded));
    for (const std::string_view component : Split(decoded, '/')) {
        Require(component.size() <= kel::kMaxComponentLength,
                "DecodePath let a component over 255 bytes through");
    }
}

// A target taken as local is a path of this console: it starts with one "/", and no blank,
// control character or backslash lets a browser read it as another host or cut a header.
void CheckLocalTarget(FuzzedDataProvider &in) {
    std::string target = OneOf(in, {"/", "//", "/\\", "/cifsofm", "/a b", "/%2F"}, 8);
    target += Text(in, 64);
    if (!kel::console::IsLocalTarget(target)) {
        return;
    }
    Require(target[0] == '/' && (target.size() == 1 || (target[1] != '/' && target[1] != '\\')),
            "IsLocalTarget took another host's address: " + Shown(target));
    for (const char c : target) {
        const auto byte = static_cast<unsigned char>(c);
        Require(byte > 0x20 && byte != 0x7f && c != '\\',
                "IsLocalTarget took a target with a blank, control byte or backslash: " +
                    Shown(target));
    }
}

}  // namespace
}  // namespace kel2cifs::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    using namespace kel2cifs::fuzz;
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
            CheckComponentPath(in);
            break;
        case 1:
            CheckFieldOfKnownForm(in);
            break;
        case 2:
            CheckFieldOfAnyForm(in);
            break;
        case 3:
            CheckDecodeRoundTrip(in);
            break;
        case 4:
            CheckDecodeAny(in);
            break;
        case 5:
            CheckTargetRoundTrip(in);
            break;
        case 6:
            CheckDecodeAnyPath(in);
            break;
        default:
            CheckLocalTarget(in);
            break;
    }
    return 0;
}
