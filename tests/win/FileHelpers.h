// Small file helpers shared by the Windows test programs.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/Services.h"
#include "services/Win32.h"

// The stub's wide texts from the tests' UTF-8 ones and back.
inline WString W(const std::string& text) { return DecodeText(text.data(), text.size(), 65001); }
inline std::string U(const WString& text)
{
    String bytes = EncodeUtf8(text);
    return std::string(bytes.c_str(), bytes.size());
}
// Wide texts in test messages, as UTF-8.
inline void PrintTo(const WString& text, std::ostream* out) { *out << U(text); }

// A wide text against the tests' UTF-8 one.
inline bool operator==(const WString& text, const std::string& utf8) { return U(text) == utf8; }
inline bool operator==(const WString& text, const char* utf8) { return U(text) == utf8; }

// The system services with the tests' UTF-8 texts.
inline SetupError EnsureFolder(const std::string& path) { return EnsureFolder(W(path)); }
inline bool IsExistingFile(const std::string& path) { return IsExistingFile(W(path)); }
inline bool IsExistingFolder(const std::string& path) { return IsExistingFolder(W(path)); }
inline void RemoveFolder(const std::string& path) { RemoveFolder(W(path)); }
inline std::string FolderOf(const std::string& path) { return U(FolderOf(W(path))); }
inline bool CopyFileWithProgress(const std::string& source, HANDLE target, CopyProgress progress)
{
    return CopyFileWithProgress(W(source), target, progress);
}
inline HRESULT CreateShellLink(const std::string& target, const std::string& arguments, const std::string& linkFile,
                               const std::string& description, const std::string& iconFile, int iconIndex)
{
    return CreateShellLink(W(target), W(arguments), W(linkFile), W(description), W(iconFile), iconIndex);
}

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

inline const std::string kScratchBase = "C:\\svctest";

inline std::vector<std::string> Entries(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(h, &entry));
    FindClose(h);
    return names;
}

// Every test works in a fresh folder of its own, named after it.
class Scratch : public ::testing::Test {
protected:
    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = kScratchBase + "\\" + info->test_suite_name() + "_" + info->name();
        CreateDirectoryA(kScratchBase.c_str(), nullptr);
        ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr)) << dir_;
    }
    std::string Path(const std::string& name) const { return dir_ + "\\" + name; }
    std::string dir_;
};
