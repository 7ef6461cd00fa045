#include "temp_dir.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

std::string MakeTempDir(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    return mkdtemp(buf.data()) != nullptr ? std::string(buf.data()) : std::string();
}

TempDir::TempDir(const std::string& prefix) : path_(MakeTempDir(prefix)) {}

TempDir::~TempDir() {
    if (!keep_ && !path_.empty()) {
        std::error_code ignored;  // a leftover temporary file is harmless
        std::filesystem::remove_all(path_, ignored);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && written;
}

long CountLines(const std::string& path) {
    std::ifstream in(path);
    long lines = 0;
    std::string line;
    while (std::getline(in, line)) {
        lines++;
    }
    return lines;
}
