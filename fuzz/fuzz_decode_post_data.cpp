// fuzz_decode_post_data: decodePostDataString on any bytes.
//
// The data lies in a heap block of exactly its own size, without a terminator, and the length
// passed is its size, a shorter length, or (when the data holds a NUL) a longer one up to the
// largest there is, which the NUL must stop; a null data decodes as the empty text. Checked: the
// decoded text is no longer than the bytes read; data without "%" decodes to itself with "+" as a
// blank; and the text read, with every byte written as %XX (upper or lower case digits), decodes
// back to itself.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/harness.h"
#include "ofm/post_data.h"
#include "plugin/heap_text.h"

namespace kel2cifs::fuzz {
namespace {

using Decoded = HeapText;

Decoded Decode(const char *data, unsigned long length) {
    char *out = nullptr;
    const int status = decodePostDataString(data, length, &out);
    Require(status == 0, "decodePostDataString returned " + std::to_string(status));
    Require(out != nullptr, "decodePostDataString returned 0 without a text");
    return Decoded(out);
}

std::string Lowered(std::string text) {
    for (char &c : text) {
        if (c >= 'A' && c <= 'F') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

}  // namespace
}  // namespace kel2cifs::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    using namespace kel2cifs::fuzz;
    FuzzedDataProvider in(data, size);
    const int lengthMode = in.ConsumeIntegralInRange<int>(0, 3);
    const std::size_t extra = in.ConsumeIntegral<uint8_t>();
    const bool lowerCase = in.ConsumeBool();
    const std::vector<char> bytes = in.ConsumeRemainingBytes<char>();

    if (lengthMode == 3) {
        Decoded empty = Decode(nullptr, bytes.size() + extra);
        Require(empty.get()[0] == '\0', "null data did not decode as the empty text");
        return 0;
    }

    // A block of exactly the data's size: a read past it is a heap overflow.
    const std::size_t blockSize = bytes.size();
    std::unique_ptr<char[]> block(new char[blockSize == 0 ? 1 : blockSize]);
    if (blockSize != 0) {
        std::memcpy(block.get(), bytes.data(), blockSize);
    }
    const void *nul = blockSize != 0 ? std::memchr(block.get(), '\0', blockSize) : nullptr;
    unsigned long length = blockSize;
    if (lengthMode == 1 && nul != nullptr) {
        // Any length at all: the NUL ends the data, however far the length reaches.
        length = extra < 128 ? blockSize + extra : ULONG_MAX - (extra - 128);
    } else if (lengthMode == 2) {
        length = blockSize == 0 ? 0 : extra % (blockSize + 1);
    }
    const char *input = blockSize != 0 ? block.get() : "";

    // The bytes the decoder may read: the first `length`, up to the first NUL.
    const std::string read(input, strnlen(input, std::min<std::size_t>(length, blockSize)));
    Decoded decoded = Decode(input, length);
    const std::string out = decoded.get();
    Require(out.size() <= read.size(), "the decoded text is longer than the data read");

    if (read.find('%') == std::string::npos) {
        std::string expected = read;
        for (char &c : expected) {
            if (c == '+') {
                c = ' ';
            }
        }
        Require(out == expected, "data without escapes decoded to \"" + out + "\"");
    }

    std::string encoded = PercentEncodeAll(read);
    if (lowerCase) {
        encoded = Lowered(encoded);
    }
    std::unique_ptr<char[]> encodedBlock(new char[encoded.size() + 1]);
    std::memcpy(encodedBlock.get(), encoded.c_str(), encoded.size() + 1);
    Decoded roundTrip = Decode(encodedBlock.get(), encoded.size());
    Require(read == roundTrip.get(), "%XX of every byte did not decode back to the data");
    return 0;
}
