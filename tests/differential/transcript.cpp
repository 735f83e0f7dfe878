#include "differential/transcript.h"

#include <cstdlib>

namespace differential {
namespace {

constexpr std::size_t kSoftLineLength = 160;
constexpr std::string_view kWriteOp = "HttpSendDataSprintf";

void AppendHex(std::string &out, unsigned char byte) {
    static constexpr char kDigits[] = "0123456789abcdef";
    out += {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 15]};
}

// The fake host renders a text argument as a quoted C escape that keeps bytes above 0x7f as
// they are: those become \xHH here, the rest stays.
std::string AsciiOnly(std::string_view rendered) {
    std::string out;
    for (const char c : rendered) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            AppendHex(out, static_cast<unsigned char>(c));
        } else {
            out += c;
        }
    }
    return out;
}

// The bytes behind the fake host's rendering of one text, its quotes removed.
std::string Unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        switch (next) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'x':
                out += static_cast<char>(
                    std::strtol(std::string(text.substr(i + 1, 2)).c_str(), nullptr, 16));
                i += 2;
                break;
            default:
                out += next;
        }
    }
    return out;
}

}  // namespace

std::string Escape(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (byte < 0x20 || byte >= 0x7f) {
                    AppendHex(out, byte);
                } else {
                    out += c;
                }
        }
    }
    return out;
}

std::string Quote(std::string_view bytes) {
    return "\"" + Escape(bytes) + "\"";
}

void Transcript::Line(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fputc('\n', out_);
}

void Transcript::Block(std::string_view bytes) {
    std::string line = "| ";
    for (const char c : bytes) {
        line += Escape(std::string_view(&c, 1));
        if (c == '\n' || (c == '>' && line.size() >= kSoftLineLength)) {
            Line(line);
            line = "| ";
        }
    }
    if (line.size() > 2) {
        Line(line);
    }
}

void Transcript::HostCalls(const fake::Request &request) {
    std::string written;
    bool writing = false;
    auto endWrites = [&] {
        if (writing) {
            Line("host write " + std::to_string(written.size()) + " bytes");
            Block(written);
        }
        written.clear();
        writing = false;
    };
    for (const fake::Call &call : request.calls) {
        const std::string_view args = call.args;
        if (call.op == kWriteOp && args.size() >= 2 && args.front() == '"') {
            written += Unescape(args.substr(1, args.size() - 2));
            writing = true;
            continue;
        }
        endWrites();
        Line("host " + call.op + "(" + AsciiOnly(args) + ")");
    }
    endWrites();
}

}  // namespace differential
