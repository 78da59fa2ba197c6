#include "PackTestUtil.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

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

std::vector<unsigned char> BareStub(size_t size)
{
    std::vector<unsigned char> v = Pattern(size, 3);
    v[0] = 'M';
    v[1] = 'Z';
    for (size_t i = 48; i < 60; ++i)
        v[i] = 0;
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
