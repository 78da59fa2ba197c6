#include "PackTestUtil.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "package/LittleEndian.h"

ScratchDir::ScratchDir()
{
    char name[] = "/tmp/packtestXXXXXX";
    if (!mkdtemp(name))
        throw std::runtime_error("mkdtemp");
    path_ = name;
}

ScratchDir::~ScratchDir()
{
    std::string cmd = "rm -rf '" + path_ + "'";
    if (std::system(cmd.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", path_.c_str());
}

std::string ScratchDir::Write(const std::string& name, const std::vector<unsigned char>& bytes) const
{
    std::string full = path_ + "/" + name;
    for (size_t slash = full.find('/', path_.size() + 1); slash != std::string::npos; slash = full.find('/', slash + 1))
        mkdir(full.substr(0, slash).c_str(), 0755);
    std::ofstream out(full, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + full);
    return full;
}

std::string ScratchDir::Write(const std::string& name, const std::string& text) const
{
    return Write(name, std::vector<unsigned char>(text.begin(), text.end()));
}

std::vector<unsigned char> Pattern(size_t size, unsigned seed)
{
    std::vector<unsigned char> v(size);
    const char words[] = "alpha beta gamma delta epsilon zeta eta theta iota kappa ";
    for (size_t i = 0; i < size; ++i)
        v[i] = static_cast<unsigned char>(words[(i * 7 / 5 + seed) % (sizeof words - 1)] ^ ((i / 4096) & 1));
    return v;
}

std::vector<unsigned char> Noise(size_t size, unsigned seed)
{
    std::vector<unsigned char> v(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<unsigned char>(x);
    }
    return v;
}

void PutU16At(std::vector<unsigned char>& bytes, size_t at, uint16_t value) { PutU16(&bytes[at], value); }

std::vector<unsigned char> BareStub(size_t size, uint16_t machine, size_t headers)
{
    const bool plus = machine != 0x014C;
    std::vector<unsigned char> v = Pattern(size, 3);
    std::fill(v.begin(), v.begin() + static_cast<long>(std::min(size, headers)), 0);
    auto u32 = [&](size_t at, uint32_t x) { PutU32(&v[at], x); };
    v[0] = 'M';
    v[1] = 'Z';
    u32(0x3C, kStubPeOffset);
    const size_t pe = kStubPeOffset, opt = pe + 24, optSize = plus ? 240 : 224;
    v[pe] = 'P';
    v[pe + 1] = 'E';
    PutU16At(v, pe + 4, machine);
    PutU16At(v, pe + 6, 1);
    PutU16At(v, pe + 20, static_cast<uint16_t>(optSize));
    PutU16At(v, pe + 22, plus ? 0x0022 : 0x0102); // executable, large-address-aware or 32-bit
    PutU16At(v, opt, plus ? 0x020B : 0x010B);
    u32(opt + 60, headers);
    PutU16At(v, opt + 68, 2); // GUI
    u32(opt + (plus ? 108 : 92), 16);
    const size_t section = opt + optSize;
    std::copy_n(".text", 5, v.begin() + static_cast<long>(section));
    u32(section + 16, static_cast<uint32_t>(size - headers));
    u32(section + 20, headers);
    return v;
}

std::vector<unsigned char> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}
