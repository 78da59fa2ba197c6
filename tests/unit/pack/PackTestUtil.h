// Scratch folders and files for the packaging tool's tests.
#pragma once
#include <string>
#include <vector>

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // Creates parent folders as needed.
    std::string Write(const std::string& name, const std::vector<unsigned char>& bytes) const;
    std::string Write(const std::string& name, const std::string& text) const;

private:
    std::string path_;
};

std::vector<unsigned char> Pattern(size_t size, unsigned seed);    // compressible
std::vector<unsigned char> Noise(size_t size, unsigned seed);      // not compressible
std::vector<unsigned char> BareStub(size_t size = 2048);           // "MZ", zero marker
std::vector<unsigned char> ReadAll(const std::string& path);
bool Exists(const std::string& path);
