// access_log.cpp: FormatAccessLine and WriteAccessLine.
#include "console/access_log.h"

#include <cerrno>
#include <cstdio>

#include <unistd.h>

namespace kel::console {
namespace {

void AppendField(std::string &line, std::string_view field) {
    if (field.empty()) {
        line += '-';
        return;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (char c : field) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f) {
            line += '%';
            line += kHex[byte >> 4];
            line += kHex[byte & 0xF];
        } else {
            line += c;
        }
    }
}

}  // namespace

std::string FormatAccessLine(const AccessRecord &record) {
    char time[32] = "-";
    std::tm local{};
    if (localtime_r(&record.when, &local) != nullptr) {
        std::strftime(time, sizeof(time), "%Y-%m-%dT%H:%M:%S", &local);
    }
    std::string line = time;
    line += ' ';
    AppendField(line, record.client);
    line += ' ';
    AppendField(line, record.method);
    line += ' ';
    AppendField(line, record.path);
    char numbers[80];
    if (record.status > 0) {
        std::snprintf(numbers, sizeof(numbers), " %d %llu %llums ", record.status,
                      static_cast<unsigned long long>(record.bytes),
                      static_cast<unsigned long long>(record.milliseconds));
    } else {
        std::snprintf(numbers, sizeof(numbers), " - %llu %llums ",
                      static_cast<unsigned long long>(record.bytes),
                      static_cast<unsigned long long>(record.milliseconds));
    }
    line += numbers;
    AppendField(line, record.account);
    line += '\n';
    return line;
}

void WriteAccessLine(int fd, const AccessRecord &record) {
    const std::string line = FormatAccessLine(record);
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t put = write(fd, line.data() + done, line.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return;
        }
        done += static_cast<std::size_t>(put);
    }
}

}  // namespace kel::console
