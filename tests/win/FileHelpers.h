// Small file helpers shared by the Windows test programs.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "services/Win32.h"

inline void WriteAll(const std::string& path, const std::string& bytes)
{
    UniqueHandle f(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(f.Valid()) << path;
    ASSERT_TRUE(WriteAll(f.Get(), bytes.data(), static_cast<DWORD>(bytes.size()))) << path;
}

// The whole file, or "<missing>" when it cannot be opened.
inline std::string ReadAll(const std::string& path)
{
    UniqueHandle f(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f.Valid())
        return "<missing>";
    std::string out;
    char buffer[4096];
    DWORD n;
    while ((n = ReadBytes(f.Get(), buffer, sizeof buffer)) > 0)
        out.append(buffer, n);
    return out;
}

inline bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
