// race.exe PATTERN REPORT STOP-FILE [STOP-TITLE] [SECONDS]
//
// Plays another process in a race with the setup stub: for every file that
// matches PATTERN (for example C:\windows\temp\_KT*.cab) it tries, again and
// again, to open the file for writing, to rename another file over it and to
// delete it, until STOP-FILE appears, a message box titled STOP-TITLE
// appears (give "" for none) or SECONDS (default 120) pass. Then it writes
// REPORT: one line "write TRIED WON rename TRIED WON delete TRIED WON files N"
// and one line per file seen. A try counts only while the file is really
// there: it is held open for reading, with everything shared, around each
// round, so that it cannot vanish (and a rename cannot create it anew) in
// the middle. Exit code 0.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "services/Win32.h"

namespace {

struct Tally {
    long tried = 0;
    long won = 0;
    void Count(bool success)
    {
        ++tried;
        won += success ? 1 : 0;
    }
};

std::string FolderOfPattern(const std::string& pattern)
{
    std::string::size_type slash = pattern.find_last_of('\\');
    return slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fputs("usage: race.exe PATTERN REPORT STOP-FILE [STOP-TITLE] [SECONDS]\n", stderr);
        return 2;
    }
    const std::string pattern = argv[1];
    const std::string stopTitle = argc > 4 ? argv[4] : "";
    const DWORD seconds = argc > 5 ? static_cast<DWORD>(std::atoi(argv[5])) : 120;
    const std::string folder = FolderOfPattern(pattern);
    // On the same volume as the files, or a rename could never succeed.
    const std::string decoy = folder + "race-decoy.tmp";

    Tally write, rename, remove;
    std::set<std::string> seen;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < seconds * 1000 && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES &&
           !(stopTitle.size() && FindWindowA("#32770", stopTitle.c_str()))) {
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) {
            Sleep(1);
            continue;
        }
        do {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            const std::string path = folder + entry.cFileName;
            UniqueHandle there(CreateFileA(path.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
            if (!there.Valid())
                continue;
            seen.insert(path);
            UniqueHandle writer(CreateFileA(path.c_str(), GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
            write.Count(writer.Valid());
            writer.Close();
            UniqueHandle(CreateFileA(decoy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            rename.Count(MoveFileExA(decoy.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0);
            remove.Count(DeleteFileA(path.c_str()) != 0);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }

    DeleteFileA(decoy.c_str());
    FILE* report = std::fopen(argv[2], "w");
    if (!report)
        return 2;
    std::fprintf(report, "write %ld %ld rename %ld %ld delete %ld %ld files %u\n", write.tried, write.won,
                 rename.tried, rename.won, remove.tried, remove.won, static_cast<unsigned>(seen.size()));
    for (const std::string& path : seen)
        std::fprintf(report, "%s\n", path.c_str());
    std::fclose(report);
    return 0;
}
