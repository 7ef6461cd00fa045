// Temporary working directories and whole-file reads and writes, for
// harnesses that run the daemon or feed parsers from a path.
#ifndef TESSARON_TESTS_KIT_TEMP_DIR_H
#define TESSARON_TESTS_KIT_TEMP_DIR_H

#include <cstddef>
#include <cstdint>
#include <string>

// A fresh directory /tmp/<prefix>-XXXXXX; empty string on failure.
std::string MakeTempDir(const std::string& prefix);

// A fresh directory removed with everything in it when this goes away,
// unless Keep() was called (the soak leaves its logs for a look).
class TempDir {
public:
    explicit TempDir(const std::string& prefix);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    bool Ok() const { return !path_.empty(); }
    void Keep() { keep_ = true; }

private:
    std::string path_;
    bool keep_ = false;
};

// The whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Replaces the file with exactly these bytes; false when it cannot.
bool WriteFile(const std::string& path, const uint8_t* data, size_t size);
// Lines in a text file (0 when it does not exist).
long CountLines(const std::string& path);

#endif
