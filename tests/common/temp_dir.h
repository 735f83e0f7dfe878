// temp_dir.h: a scratch directory under $TMPDIR (or /tmp), named by its canonical path and removed
// with everything in it.
#ifndef KEL2CIFS_TESTS_COMMON_TEMP_DIR_H
#define KEL2CIFS_TESTS_COMMON_TEMP_DIR_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace testing_support {

class TempDir {
  public:
    TempDir() {
        const char *base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kel2cifs-test-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = std::filesystem::canonical(pattern);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::string File(const std::string &relative) const { return str() + "/" + relative; }

    // Writes content to relative (creating its parent directories) and returns the full path.
    std::filesystem::path Write(const std::string &relative, const std::string &content) const {
        std::filesystem::path file = path_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }

    std::filesystem::path MakeDir(const std::string &relative) const {
        std::filesystem::path dir = path_ / relative;
        std::filesystem::create_directories(dir);
        return dir;
    }

  private:
    std::filesystem::path path_;
};

inline std::string ReadFile(const std::filesystem::path &file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testing_support

#endif  // KEL2CIFS_TESTS_COMMON_TEMP_DIR_H
