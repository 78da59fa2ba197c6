// Scratch folders and files for the packaging tool's tests.
#pragma once
#include <cstdint>
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
// A bare stub as the linker makes one: "MZ", zero marker, PE headers of a
// GUI program for `machine` (PE32 for i386, else PE32+) at kStubPeOffset, and
// one section that fills the rest of the file.
constexpr size_t kStubPeOffset = 0x80;
// headers: SizeOfHeaders; ours are 0x400, with room for the package's digest.
std::vector<unsigned char> BareStub(size_t size = 2048, uint16_t machine = 0x014C, size_t headers = 0x200);
void PutU16At(std::vector<unsigned char>& bytes, size_t at, uint16_t value);
std::vector<unsigned char> ReadAll(const std::string& path);
bool Exists(const std::string& path);
