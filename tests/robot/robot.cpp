// robot.exe --log FILE [--stop FILE] [--idle FILE] [--timeout S] [--poll MS]
//           [--rules FILE] [--rule RULE]... [--all 1] [--run FILE]
//
// --run FILE starts the program under test itself: FILE holds, in UTF-8 and
// each ended by a NUL (a command line may hold line ends), its command line,
// its folder, and the files for its output and errors. It starts suspended inside a job, so the robot holds it before it
// runs a single instruction, and every process it starts is reported by the
// job as it is created: none can come and go between two scans unseen.
// Pairs of paths after those four are renamed, the first of each to the
// second, while the program is suspended: a swap of its file after the
// start (the event "moved" tells each).
//
// --all 1 also watches the processes that ran before the robot (to see what
// a program that hangs has left open).
// Runs beside the program under test in the same prefix and wineserver and
// polls every few milliseconds: top-level windows (message boxes and other
// windows) and the process list. See tests/rig/README.md for the log and the
// rules syntax.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <cwctype>
#include <memory>

#include "Robot.h"
#include "services/Win32.h"

namespace {

// --- log --------------------------------------------------------------------

UniqueHandle g_log;
DWORD g_start = 0;

// One JSON object per line, written with one WriteFile so a reader never
// sees half a line once the line end is there.
void Emit(const std::string& fields)
{
    char head[48];
    wsprintfA(head, "{\"t\":%lu,", static_cast<unsigned long>(GetTickCount() - g_start));
    std::string line = head + fields + "}\n";
    DWORD written = 0;
    WriteFile(g_log.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::string Num(long long v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld", v);
    return buf;
}

std::string HwndId(HWND h) { return Num(static_cast<long long>(reinterpret_cast<UINT_PTR>(h))); }

std::string Bool(bool b) { return b ? "true" : "false"; }

// --- windows ----------------------------------------------------------------

std::wstring ClassOf(HWND h);

// Captions, labels and buttons keep their text with the system, which hands
// it out without a message: reading it never waits for a program that is
// busy and not pumping messages. Other controls (edit fields) keep it
// themselves and are asked, with a time limit.
std::wstring TextOf(HWND h)
{
    std::wstring cls = ClassOf(h);
    bool stored = GetParent(h) == nullptr || GetWindow(h, GW_OWNER) != nullptr || cls == L"Static" ||
                  cls == L"Button" || cls == L"#32770";
    for (std::size_t size = 1024;; size *= 4) {
        std::wstring text(size, L'\0');
        DWORD_PTR got = 0;
        if (stored)
            got = static_cast<DWORD_PTR>(GetWindowTextW(h, &text[0], static_cast<int>(size)));
        else if (!SendMessageTimeoutW(h, WM_GETTEXT, size, reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG,
                                      200, &got))
            return std::wstring();
        // A full buffer may have cut the text: ask again with more room.
        if (got + 1 < size || size >= (1u << 22)) {
            text.resize(std::min<std::size_t>(got, size));
            return text;
        }
    }
}

std::wstring ClassOf(HWND h)
{
    wchar_t buf[256] = {};
    GetClassNameW(h, buf, 256);
    return buf;
}

DWORD PidOf(HWND h)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid;
}

HWND FocusOf(HWND top)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

BOOL CALLBACK CollectWindow(HWND h, LPARAM p)
{
    reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
    return TRUE;
}

std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> out;
    EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&out));
    return out;
}

std::vector<HWND> TopWindows()
{
    std::vector<HWND> out;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&out));
    return out;
}

bool IsMessageBox(HWND h) { return ClassOf(h) == L"#32770" && GetDlgItem(h, 0xFFFF) != nullptr; }

// --- icons ------------------------------------------------------------------

// Icon handles mean nothing across processes, so the icon control is read
// back from the screen and compared with renderings of the four system icons;
// only the pixels an icon's mask marks opaque take part.
struct IconRef {
    const char* name;
    LPCWSTR id;
};
const IconRef kIcons[] = {
    {"error", IDI_ERROR}, {"warning", IDI_WARNING}, {"information", IDI_INFORMATION}, {"question", IDI_QUESTION}};

struct Bitmap32 {
    int w = 0, h = 0;
    std::vector<DWORD> px;
};

class MemoryDc {
public:
    MemoryDc(int w, int h, Bitmap32& out) : out_(out)
    {
        out.w = w, out.h = h;
        out.px.assign(static_cast<std::size_t>(w) * h, 0);
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        dc_ = CreateCompatibleDC(nullptr);
        bmp_ = CreateDIBSection(dc_, &bi, DIB_RGB_COLORS, &bits_, nullptr, 0);
        old_ = SelectObject(dc_, bmp_);
    }
    ~MemoryDc()
    {
        GdiFlush();
        if (bits_)
            std::copy_n(static_cast<DWORD*>(bits_), out_.px.size(), out_.px.begin());
        SelectObject(dc_, old_);
        DeleteObject(bmp_);
        DeleteDC(dc_);
    }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    HDC Get() const { return dc_; }
    bool Ok() const { return bits_ != nullptr; }

private:
    Bitmap32& out_;
    HDC dc_ = nullptr;
    HBITMAP bmp_ = nullptr;
    HGDIOBJ old_ = nullptr;
    void* bits_ = nullptr;
};

bool CaptureScreen(const RECT& r, Bitmap32& out)
{
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0 || w > 256 || h > 256)
        return false;
    HDC screen = GetDC(nullptr);
    bool ok = false;
    {
        MemoryDc mem(w, h, out);
        ok = mem.Ok() && BitBlt(mem.Get(), 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    }
    ReleaseDC(nullptr, screen);
    return ok;
}

// Renders an icon twice (on black and on white): where both agree the pixel
// is opaque.
void RenderIcon(HICON icon, int w, int h, Bitmap32& onBlack, Bitmap32& onWhite)
{
    for (int pass = 0; pass < 2; ++pass) {
        Bitmap32& out = pass ? onWhite : onBlack;
        MemoryDc mem(w, h, out);
        RECT all = {0, 0, w, h};
        HBRUSH brush = static_cast<HBRUSH>(GetStockObject(pass ? WHITE_BRUSH : BLACK_BRUSH));
        FillRect(mem.Get(), &all, brush);
        DrawIconEx(mem.Get(), 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL);
    }
}

int Channel(DWORD px, int shift) { return static_cast<int>((px >> shift) & 0xFF); }

int PixelDistance(DWORD a, DWORD b)
{
    return std::abs(Channel(a, 0) - Channel(b, 0)) + std::abs(Channel(a, 8) - Channel(b, 8)) +
           std::abs(Channel(a, 16) - Channel(b, 16));
}

// Average distance per opaque pixel; lower is closer.
struct IconGuess {
    const char* name = nullptr;
    int score = 1 << 30;
};

IconGuess ClassifyIcon(const Bitmap32& shot)
{
    IconGuess best;
    for (const IconRef& ref : kIcons) {
        HICON icon = LoadIconW(nullptr, ref.id);
        if (!icon)
            continue;
        Bitmap32 black, white;
        RenderIcon(icon, shot.w, shot.h, black, white);
        long long sum = 0, n = 0;
        for (std::size_t i = 0; i < shot.px.size(); ++i) {
            if (PixelDistance(black.px[i], white.px[i]) > 30)
                continue; // (semi-)transparent here
            sum += PixelDistance(shot.px[i], black.px[i]);
            ++n;
        }
        if (n < 16)
            continue;
        int score = static_cast<int>(sum / n);
        if (score < best.score)
            best.score = score, best.name = ref.name;
    }
    return best;
}

// --- processes --------------------------------------------------------------

// Wine's own processes come and go with the session; they are never the
// program under test or one of its children.
bool IsSystemProcess(const std::wstring& exe)
{
    static const wchar_t* const kSystem[] = {
        L"services.exe", L"winedevice.exe", L"plugplay.exe",   L"explorer.exe", L"rpcss.exe",
        L"svchost.exe",  L"conhost.exe",    L"start.exe",      L"wineboot.exe", L"winemenubuilder.exe",
        L"robot.exe",    L"rundll32.exe",   L"tabtip.exe",     L"mscorsvw.exe", L"iexplore.exe"};
    std::wstring lower = exe;
    for (wchar_t& c : lower)
        c = static_cast<wchar_t>(std::towlower(c));
    for (const wchar_t* s : kSystem)
        if (lower == s)
            return true;
    return false;
}

typedef LONG(WINAPI* NtQueryInformationProcessFn)(HANDLE, ULONG, PVOID, ULONG, PULONG);

// The command line, read from the process itself: first the direct query,
// then through its PEB. <winternl.h> lays the PEB out for the robot's own
// target (ProcessParameters at +0x10 and CommandLine at +0x40 on i686, +0x20
// and +0x70 on x86-64), which is the target of the programs it watches.
std::wstring CommandLineOf(HANDLE process)
{
    static NtQueryInformationProcessFn query = reinterpret_cast<NtQueryInformationProcessFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    if (!query)
        return std::wstring();
    const ULONG kProcessCommandLineInformation = 60;
    std::vector<unsigned char> buf(65536);
    ULONG got = 0;
    if (query(process, kProcessCommandLineInformation, buf.data(), static_cast<ULONG>(buf.size()), &got) == 0) {
        auto* us = reinterpret_cast<UNICODE_STRING*>(buf.data());
        if (us->Buffer)
            return std::wstring(us->Buffer, us->Length / sizeof(wchar_t));
    }
    PROCESS_BASIC_INFORMATION pbi = {};
    if (query(process, 0 /*ProcessBasicInformation*/, &pbi, sizeof pbi, &got) != 0 || !pbi.PebBaseAddress)
        return std::wstring();
    PEB peb = {};
    RTL_USER_PROCESS_PARAMETERS params = {};
    SIZE_T n = 0;
    if (!ReadProcessMemory(process, pbi.PebBaseAddress, &peb, sizeof peb, &n) || !peb.ProcessParameters ||
        !ReadProcessMemory(process, peb.ProcessParameters, &params, sizeof params, &n))
        return std::wstring();
    std::wstring text(params.CommandLine.Length / sizeof(wchar_t), L'\0');
    if (text.empty() || !ReadProcessMemory(process, params.CommandLine.Buffer, &text[0], params.CommandLine.Length, &n))
        return std::wstring();
    return text;
}

struct Process {
    DWORD pid = 0;
    DWORD parent = 0;
    std::wstring exe;
    UniqueHandle handle;
    bool tracked = false;
    bool announced = false;
    DWORD firstSeen = 0;
};

// --- the job ----------------------------------------------------------------

// Processes the job reports, opened the moment they are created: a process
// that ends within a scan is still held, and its exit code read.
struct Born {
    DWORD pid;
    HANDLE handle;
};

class JobWatch {
public:
    bool Start()
    {
        job_ = UniqueHandle(CreateJobObjectW(nullptr, nullptr));
        port_ = UniqueHandle(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
        if (!job_.Valid() || !port_.Valid())
            return false;
        JOBOBJECT_ASSOCIATE_COMPLETION_PORT link = {};
        link.CompletionKey = job_.Get();
        link.CompletionPort = port_.Get();
        if (!SetInformationJobObject(job_.Get(), JobObjectAssociateCompletionPortInformation, &link, sizeof link))
            return false;
        InitializeCriticalSection(&lock_);
        thread_ = UniqueHandle(CreateThread(nullptr, 0, Watch, this, 0, nullptr));
        return thread_.Valid();
    }

    HANDLE Job() const { return job_.Get(); }

    std::vector<Born> Take()
    {
        std::vector<Born> taken;
        if (!thread_.Valid())
            return taken;
        EnterCriticalSection(&lock_);
        taken.swap(born_);
        LeaveCriticalSection(&lock_);
        return taken;
    }

private:
    static DWORD WINAPI Watch(void* self)
    {
        JobWatch& w = *static_cast<JobWatch*>(self);
        for (;;) {
            DWORD message = 0;
            ULONG_PTR key = 0;
            OVERLAPPED* data = nullptr;
            if (!GetQueuedCompletionStatus(w.port_.Get(), &message, &key, &data, INFINITE))
                return 0;
            if (message != JOB_OBJECT_MSG_NEW_PROCESS)
                continue;
            DWORD pid = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(data));
            HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, pid);
            EnterCriticalSection(&w.lock_);
            w.born_.push_back({pid, h});
            LeaveCriticalSection(&w.lock_);
        }
    }

    UniqueHandle job_, port_, thread_;
    CRITICAL_SECTION lock_;
    std::vector<Born> born_;
};

// The image's file name, as the snapshot shows it.
std::wstring ImageNameOf(HANDLE process)
{
    wchar_t path[MAX_PATH * 2];
    DWORD size = MAX_PATH * 2;
    if (!QueryFullProcessImageNameW(process, 0, path, &size))
        return std::wstring();
    std::wstring full(path, size);
    size_t cut = full.find_last_of(L"\\/");
    return cut == std::wstring::npos ? full : full.substr(cut + 1);
}

DWORD ParentOf(HANDLE process)
{
    typedef LONG(WINAPI * QueryFn)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    static QueryFn query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION pbi = {};
    ULONG got = 0;
    if (!query || query(process, 0 /*ProcessBasicInformation*/, &pbi, sizeof pbi, &got) != 0)
        return 0;
    return static_cast<DWORD>(pbi.InheritedFromUniqueProcessId);
}

// A whole file's bytes; false when it cannot be opened.
bool ReadWholeFile(const std::wstring& path, std::string& data)
{
    UniqueHandle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f.Valid())
        return false;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(f.Get(), buf, sizeof buf, &got, nullptr) && got)
        data.append(buf, got);
    return true;
}

// --- the robot --------------------------------------------------------------

struct BoxState {
    DWORD firstSeen = 0;
    bool logged = false;
    bool answered = false; // one answer per box, whichever rule gives it
    int tries = 0;
};

struct Options {
    std::wstring log, stop, idle, run;
    DWORD timeoutMs = 0;
    DWORD pollMs = 15;
    bool all = false;
    std::vector<Rule> rules;
};

bool FileExists(const std::wstring& path)
{
    return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class Robot {
public:
    explicit Robot(Options opts) : opts_(std::move(opts)) {}

    int Run()
    {
        ScanProcesses(!opts_.all);
        Emit("\"event\":\"ready\",\"pid\":" + Num(GetCurrentProcessId()));
        if (!opts_.run.empty() && !Launch())
            return 2;
        for (;;) {
            DWORD pollStart = GetTickCount();
            bool idleAsked = FileExists(opts_.idle);
            ScanProcesses(false);
            ScanWindows();
            if (idleAsked && !AnyTrackedAlive()) {
                Emit("\"event\":\"idle\"");
                DeleteFileW(opts_.idle.c_str());
            }
            DWORD took = GetTickCount() - pollStart;
            ++polls_, pollTotal_ += took, pollMax_ = std::max(pollMax_, took);
            if (FileExists(opts_.stop))
                return Stop("stop-file");
            if (opts_.timeoutMs && GetTickCount() - g_start > opts_.timeoutMs)
                return Stop("timeout");
            Sleep(opts_.pollMs);
        }
    }

private:
    Options opts_;
    JobWatch job_;
    std::map<DWORD, Process> procs_;
    DWORD polls_ = 0, pollTotal_ = 0, pollMax_ = 0;
    std::set<DWORD> ended_;
    std::map<HWND, BoxState> boxes_;
    std::map<HWND, std::string> windows_; // last logged snapshot

    // Starts the program under test as --run describes it; "launched" names
    // its process, "launch-failed" the reason it did not start.
    bool Launch()
    {
        std::string bytes;
        ReadWholeFile(opts_.run, bytes);
        std::wstring text = Wide(bytes);
        std::vector<std::wstring> lines;
        for (size_t at = 0; at < text.size();) {
            size_t end = text.find(L'\0', at);
            if (end == std::wstring::npos)
                end = text.size();
            lines.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        if (lines.size() < 4 || lines[0].empty()) {
            Emit("\"event\":\"launch-failed\",\"error\":0");
            return false;
        }
        if (!job_.Start()) {
            Emit("\"event\":\"launch-failed\",\"error\":" + Num(GetLastError()));
            return false;
        }
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        UniqueHandle in(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                    0, nullptr));
        // The run's folder is new: an output file already there is not ours.
        UniqueHandle out(CreateFileW(lines[2].c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                     CREATE_NEW, 0, nullptr));
        UniqueHandle err(CreateFileW(lines[3].c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                     CREATE_NEW, 0, nullptr));
        if (!out.Valid() || !err.Valid()) {
            Emit("\"event\":\"launch-failed\",\"error\":" + Num(GetLastError()));
            return false;
        }
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = in.Get();
        si.hStdOutput = out.Get();
        si.hStdError = err.Get();
        PROCESS_INFORMATION pi = {};
        std::wstring cmd = lines[0];
        if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                            lines[1].empty() ? nullptr : lines[1].c_str(), &si, &pi)) {
            Emit("\"event\":\"launch-failed\",\"error\":" + Num(GetLastError()));
            return false;
        }
        UniqueHandle thread(pi.hThread);
        Process p;
        p.pid = pi.dwProcessId;
        p.parent = GetCurrentProcessId();
        p.handle = UniqueHandle(pi.hProcess);
        p.exe = ImageNameOf(p.handle.Get());
        p.tracked = true;
        p.firstSeen = GetTickCount();
        if (!AssignProcessToJobObject(job_.Job(), p.handle.Get())) {
            Emit("\"event\":\"launch-failed\",\"error\":" + Num(GetLastError()));
            TerminateProcess(p.handle.Get(), 1);
            return false;
        }
        Emit("\"event\":\"process\",\"pid\":" + Num(p.pid) + ",\"parent\":" + Num(p.parent) +
             ",\"exe\":" + JsonString(p.exe) + ",\"cmdline\":" + JsonString(lines[0]));
        p.announced = true;
        Emit("\"event\":\"launched\",\"pid\":" + Num(p.pid));
        for (size_t i = 4; i + 1 < lines.size(); i += 2) {
            const DWORD error = MoveFileExW(lines[i].c_str(), lines[i + 1].c_str(), 0) ? 0 : GetLastError();
            Emit("\"event\":\"moved\",\"from\":" + JsonString(lines[i]) + ",\"to\":" + JsonString(lines[i + 1]) +
                 ",\"error\":" + Num(error));
        }
        procs_[p.pid] = std::move(p);
        ResumeThread(thread.Get());
        return true;
    }

    // The processes the job saw born since the last scan.
    void TakeBorn()
    {
        for (Born& b : job_.Take()) {
            UniqueHandle handle(b.handle);
            if (procs_.count(b.pid) || !handle.Valid())
                continue; // the program itself, or one the snapshot found first
            bool over = WaitForSingleObject(handle.Get(), 0) == WAIT_OBJECT_0;
            if (over && ended_.count(b.pid))
                continue;
            Process p;
            p.pid = b.pid;
            p.parent = ParentOf(handle.Get());
            p.exe = ImageNameOf(handle.Get());
            p.firstSeen = GetTickCount();
            p.tracked = !IsSystemProcess(p.exe);
            if (p.tracked)
                p.handle = std::move(handle);
            procs_[p.pid] = std::move(p);
        }
    }

    bool AnyTrackedAlive()
    {
        for (auto& kv : procs_)
            if (kv.second.tracked && kv.second.handle.Valid())
                return true;
        return false;
    }

    bool Tracked(DWORD pid)
    {
        auto it = procs_.find(pid);
        return it != procs_.end() && it->second.tracked;
    }

    // A process just created may not have its parameters in place yet: its
    // command line is read again on later scans, for up to half a second.
    void Announce(Process& p, bool force)
    {
        std::wstring cmd = CommandLineOf(p.handle.Get());
        // Its line's room may be in place before the text is copied into
        // it: NULs only are no line yet.
        if (cmd.find_first_not_of(L'\0') == std::wstring::npos)
            cmd.clear();
        if (cmd.empty() && !force && GetTickCount() - p.firstSeen < 500)
            return;
        // The snapshot that first listed it may have shown another image's
        // name; the process itself knows which program it runs.
        std::wstring image = ImageNameOf(p.handle.Get());
        if (!image.empty())
            p.exe = image;
        Emit("\"event\":\"process\",\"pid\":" + Num(p.pid) + ",\"parent\":" + Num(p.parent) +
             ",\"exe\":" + JsonString(p.exe) + ",\"cmdline\":" + JsonString(cmd));
        p.announced = true;
    }

    void ScanProcesses(bool baseline)
    {
        TakeBorn();
        UniqueHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (snap.Valid()) {
            PROCESSENTRY32W pe = {};
            pe.dwSize = sizeof pe;
            std::set<DWORD> listed;
            for (BOOL ok = Process32FirstW(snap.Get(), &pe); ok; ok = Process32NextW(snap.Get(), &pe)) {
                listed.insert(pe.th32ProcessID);
                if (procs_.count(pe.th32ProcessID) || pe.th32ProcessID == GetCurrentProcessId())
                    continue;
                Process p;
                p.pid = pe.th32ProcessID;
                p.parent = pe.th32ParentProcessID;
                p.exe = pe.szExeFile;
                p.firstSeen = GetTickCount();
                p.tracked = !baseline && !IsSystemProcess(p.exe);
                if (p.tracked) {
                    p.handle = UniqueHandle(
                        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, p.pid));
                    bool over = p.handle.Valid() && WaitForSingleObject(p.handle.Get(), 0) == WAIT_OBJECT_0;
                    // An id that has ended before is still listed while
                    // something holds the process: not a new process.
                    if (over && ended_.count(p.pid))
                        continue;
                    if (!p.handle.Valid()) {
                        Emit("\"event\":\"process\",\"pid\":" + Num(p.pid) + ",\"parent\":" + Num(p.parent) +
                             ",\"exe\":" + JsonString(p.exe) + ",\"cmdline\":\"\"");
                        p.tracked = false;
                    }
                }
                procs_[p.pid] = std::move(p);
            }
            // Unwatched processes are forgotten when they leave the list, so
            // a program that gets one's id later is still seen.
            for (auto it = procs_.begin(); it != procs_.end();)
                it = !it->second.handle.Valid() && !listed.count(it->first) ? procs_.erase(it) : std::next(it);
        }
        // A process counts as ended when its handle is signalled, not when it
        // leaves the snapshot.
        for (auto it = procs_.begin(); it != procs_.end();) {
            Process& p = it->second;
            if (!p.handle.Valid()) {
                ++it;
                continue;
            }
            bool over = WaitForSingleObject(p.handle.Get(), 0) == WAIT_OBJECT_0;
            if (!p.announced)
                Announce(p, over);
            if (over) {
                DWORD code = 0;
                GetExitCodeProcess(p.handle.Get(), &code);
                Emit("\"event\":\"exit\",\"pid\":" + Num(p.pid) + ",\"exe\":" + JsonString(p.exe) +
                     ",\"code\":" + Num(code));
                ended_.insert(p.pid);
                // Forget it, so a later process with the same id is seen anew.
                it = procs_.erase(it);
                continue;
            }
            ++it;
        }
    }

    void ScanWindows()
    {
        std::vector<HWND> tops = TopWindows();
        std::set<HWND> seen;
        for (HWND h : tops) {
            if (!IsWindowVisible(h) || !Tracked(PidOf(h)))
                continue;
            seen.insert(h);
            if (IsMessageBox(h))
                HandleBox(h);
            else
                HandleWindow(h);
        }
        for (auto it = boxes_.begin(); it != boxes_.end();) {
            if (seen.count(it->first)) {
                ++it;
                continue;
            }
            if (it->second.logged)
                Emit("\"event\":\"gone\",\"hwnd\":" + HwndId(it->first) + ",\"box\":true");
            it = boxes_.erase(it);
        }
        for (auto it = windows_.begin(); it != windows_.end();) {
            if (seen.count(it->first)) {
                ++it;
                continue;
            }
            Emit("\"event\":\"gone\",\"hwnd\":" + HwndId(it->first) + ",\"box\":false");
            it = windows_.erase(it);
        }
        for (Rule& rule : opts_.rules)
            for (auto it = rule.armedSince.begin(); it != rule.armedSince.end();)
                it = seen.count(it->first) ? std::next(it) : rule.armedSince.erase(it);
    }

    std::string OwnerJson(HWND box)
    {
        HWND owner = GetWindow(box, GW_OWNER);
        if (!owner)
            return "null";
        return "{\"hwnd\":" + HwndId(owner) + ",\"title\":" + JsonString(TextOf(owner)) +
               ",\"class\":" + JsonString(ClassOf(owner)) + "}";
    }

    std::vector<HWND> BoxButtons(HWND box)
    {
        std::vector<HWND> out;
        for (HWND c : Children(box))
            if (GetParent(c) == box && ClassOf(c) == L"Button" && IsWindowVisible(c))
                out.push_back(c);
        return out;
    }

    // Logs a box once it has had time to paint its icon; returns true once
    // logged.
    bool LogBox(HWND box, BoxState& st)
    {
        DWORD now = GetTickCount();
        if (!st.firstSeen)
            st.firstSeen = now;
        if (now - st.firstSeen < 60)
            return false;
        std::string icon = "null";
        int score = -1;
        HWND iconCtrl = GetDlgItem(box, 0x440);
        if (iconCtrl && IsWindowVisible(iconCtrl)) {
            DWORD_PTR handle = 0;
            SendMessageTimeoutW(iconCtrl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 500, &handle);
            RECT r;
            Bitmap32 shot;
            if (handle && GetWindowRect(iconCtrl, &r) && CaptureScreen(r, shot)) {
                IconGuess guess = ClassifyIcon(shot);
                // A poor match usually means the box has not painted yet:
                // look again for up to a second before settling.
                if ((!guess.name || guess.score > 24) && ++st.tries < 50)
                    return false;
                icon = guess.name ? "\"" + std::string(guess.name) + "\"" : "\"unknown\"";
                score = guess.score;
            } else if (handle && ++st.tries < 50) {
                return false;
            } else if (handle) {
                icon = "\"unknown\"";
            }
        }
        std::wstring caption = TextOf(box);
        std::string buttons;
        for (HWND b : BoxButtons(box))
            buttons += (buttons.empty() ? "" : ",") + JsonString(TextOf(b));
        HWND focus = FocusOf(box);
        std::string focusText = focus && GetParent(focus) == box ? JsonString(TextOf(focus)) : "null";
        // A NULL caption shows as "Error"; the stub never uses that caption
        // itself, so it is logged as none.
        Emit("\"event\":\"box\",\"hwnd\":" + HwndId(box) + ",\"pid\":" + Num(PidOf(box)) +
             ",\"caption\":" + (caption == L"Error" ? std::string("null") : JsonString(caption)) +
             ",\"text\":" + JsonString(TextOf(GetDlgItem(box, 0xFFFF))) + ",\"buttons\":[" + buttons +
             "],\"icon\":" + icon + ",\"icon_score\":" + Num(score) + ",\"owner\":" + OwnerJson(box) +
             ",\"focus\":" + focusText);
        st.logged = true;
        return true;
    }

    HWND FindButton(HWND top, const std::wstring& label)
    {
        std::wstring want = PlainLabel(label);
        for (HWND c : Children(top))
            if (ClassOf(c) == L"Button" && IsWindowVisible(c) && PlainLabel(TextOf(c)) == want)
                return c;
        return nullptr;
    }

    void Press(HWND button, const Rule& rule, std::size_t index, HWND top)
    {
        // The label is read first: once the press is handled the button may
        // be gone.
        std::wstring label = TextOf(button);
        PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
        Emit("\"event\":\"action\",\"rule\":" + Num(static_cast<long long>(index)) + ",\"hwnd\":" + HwndId(top) +
             ",\"do\":\"press\",\"button\":" + JsonString(label) + ",\"rule_button\":" +
             JsonString(rule.button));
    }

    void CloseTop(HWND top, const Rule& rule, std::size_t index)
    {
        if (rule.sysClose)
            PostMessageW(top, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            PostMessageW(top, WM_CLOSE, 0, 0);
        Emit("\"event\":\"action\",\"rule\":" + Num(static_cast<long long>(index)) + ",\"hwnd\":" + HwndId(top) +
             ",\"do\":\"close\",\"how\":\"" + (rule.sysClose ? "sc" : "wm") + "\"");
    }

    bool SendKey(HWND top, const Rule& rule, std::size_t index)
    {
        HWND target = FocusOf(top);
        if (!target || (target != top && !IsChild(top, target)))
            target = top;
        const std::wstring& k = rule.key;
        auto post = [target](UINT msg, WPARAM w, LPARAM l) { PostMessageW(target, msg, w, l); };
        if (k == L"Enter" || k == L"Escape" || k == L"Tab" || k == L"Space") {
            WPARAM vk = k == L"Enter" ? VK_RETURN : k == L"Escape" ? VK_ESCAPE : k == L"Tab" ? VK_TAB : VK_SPACE;
            post(WM_KEYDOWN, vk, 1);
            if (vk == VK_SPACE)
                post(WM_CHAR, L' ', 1);
            post(WM_KEYUP, vk, 0xC0000001);
        } else if (k.size() == 5 && k.compare(0, 4, L"Alt+") == 0) {
            // Dialog mnemonics arrive as WM_SYSCHAR; the context bit says Alt.
            post(WM_SYSCHAR, std::towlower(k[4]), 0x20000001);
        } else if (k.size() == 1) {
            post(WM_CHAR, k[0], 1);
        } else {
            return false;
        }
        Emit("\"event\":\"action\",\"rule\":" + Num(static_cast<long long>(index)) + ",\"hwnd\":" + HwndId(top) +
             ",\"do\":\"key\",\"key\":" + JsonString(k) + ",\"target\":" + HwndId(target));
        return true;
    }

    // The condition held long enough (its delay) for this window.
    bool Ripe(Rule& rule, HWND h)
    {
        DWORD now = GetTickCount();
        auto it = rule.armedSince.find(h);
        if (it == rule.armedSince.end())
            it = rule.armedSince.emplace(h, now).first;
        return now - it->second >= rule.delay;
    }

    void HandleBox(HWND box)
    {
        BoxState& st = boxes_[box];
        if ((!st.logged && !LogBox(box, st)) || st.answered)
            return;
        std::wstring text = TextOf(GetDlgItem(box, 0xFFFF));
        for (std::size_t i = 0; i < opts_.rules.size(); ++i) {
            Rule& rule = opts_.rules[i];
            if (rule.kind != Rule::Kind::Box || rule.count == 0)
                continue;
            if (text.find(rule.text) == std::wstring::npos || !Ripe(rule, box))
                continue;
            if (rule.action == Rule::Action::Close) {
                CloseTop(box, rule, i);
            } else {
                // A box without the button is left to the next rule, so
                // "No if asked, else OK" is two rules.
                HWND button = FindButton(box, rule.button);
                if (!button)
                    continue;
                Press(button, rule, i, box);
            }
            st.answered = true;
            if (rule.count > 0)
                --rule.count;
            return;
        }
    }

    // What one look at a window's controls found; rules decide on the same
    // look that is logged, so a log line explains every action.
    struct Control {
        HWND hwnd;
        std::wstring cls, text;
        bool visible, enabled;
    };

    std::string Snapshot(HWND top, std::vector<Control>& seen)
    {
        RECT r = {};
        GetWindowRect(top, &r);
        HWND focus = FocusOf(top);
        std::string controls;
        for (HWND c : Children(top)) {
            Control ctl = {c, ClassOf(c), TextOf(c), IsWindowVisible(c) != FALSE, IsWindowEnabled(c) != FALSE};
            seen.push_back(ctl);
            const std::wstring& cls = ctl.cls;
            std::string item = "{\"hwnd\":" + HwndId(c) + ",\"class\":" + JsonString(cls) +
                               ",\"id\":" + Num(GetDlgCtrlID(c)) + ",\"text\":" + JsonString(ctl.text) +
                               ",\"visible\":" + Bool(ctl.visible) + ",\"enabled\":" + Bool(ctl.enabled) +
                               ",\"focused\":" + Bool(c == focus);
            if (cls == L"msctls_progress32") {
                // A program that is not pumping messages cannot answer; its
                // bar then reads as unknown (null), not as 0.
                auto ask = [c](UINT msg, WPARAM w) {
                    DWORD_PTR v = 0;
                    if (!SendMessageTimeoutW(c, msg, w, 0, SMTO_ABORTIFHUNG, 200, &v))
                        return std::string("null");
                    return Num(static_cast<int>(v));
                };
                item += ",\"pos\":" + ask(PBM_GETPOS, 0) + ",\"min\":" + ask(PBM_GETRANGE, TRUE) +
                        ",\"max\":" + ask(PBM_GETRANGE, FALSE);
            }
            controls += (controls.empty() ? "" : ",") + item + "}";
        }
        HWND owner = GetWindow(top, GW_OWNER);
        return "\"event\":\"window\",\"hwnd\":" + HwndId(top) + ",\"pid\":" + Num(PidOf(top)) +
               ",\"title\":" + JsonString(TextOf(top)) + ",\"class\":" + JsonString(ClassOf(top)) + ",\"rect\":[" +
               Num(r.left) + "," + Num(r.top) + "," + Num(r.right) + "," + Num(r.bottom) + "],\"enabled\":" +
               Bool(IsWindowEnabled(top)) + ",\"owner\":" + (owner ? HwndId(owner) : std::string("null")) +
               ",\"focus\":" + (focus && IsChild(top, focus) ? Num(GetDlgCtrlID(focus)) : std::string("null")) +
               ",\"controls\":[" + controls + "]";
    }

    static bool AnyControlContains(const std::vector<Control>& controls, const std::wstring& s)
    {
        for (const Control& c : controls)
            if (c.text.find(s) != std::wstring::npos)
                return true;
        return false;
    }

    static const Control* FindButtonIn(const std::vector<Control>& controls, const std::wstring& label)
    {
        std::wstring want = PlainLabel(label);
        for (const Control& c : controls)
            if (c.cls == L"Button" && c.visible && PlainLabel(c.text) == want)
                return &c;
        return nullptr;
    }

    void HandleWindow(HWND top)
    {
        std::vector<Control> controls;
        std::string snap = Snapshot(top, controls);
        // A window torn down while it was read gives empty texts: such a
        // look is not logged.
        if (!IsWindow(top) || PidOf(top) == 0 || !IsWindowVisible(top))
            return;
        for (const Control& c : controls)
            if (!IsWindow(c.hwnd))
                return;
        auto it = windows_.find(top);
        if (it == windows_.end() || it->second != snap) {
            Emit(snap);
            windows_[top] = snap;
        }
        std::wstring title = TextOf(top);
        for (std::size_t i = 0; i < opts_.rules.size(); ++i) {
            Rule& rule = opts_.rules[i];
            if (rule.kind != Rule::Kind::Window || rule.count == 0)
                continue;
            bool holds = title.find(rule.title) != std::wstring::npos &&
                         (rule.when.empty() || AnyControlContains(controls, rule.when));
            HWND button = nullptr;
            if (holds && rule.action == Rule::Action::Press) {
                const Control* c = FindButtonIn(controls, rule.button);
                holds = c && c->enabled;
                button = c ? c->hwnd : nullptr;
            }
            if (!holds) {
                rule.armedSince.erase(top);
                continue;
            }
            if (!Ripe(rule, top))
                continue;
            bool done = true;
            if (rule.action == Rule::Action::Press)
                Press(button, rule, i, top);
            else if (rule.action == Rule::Action::Close)
                CloseTop(top, rule, i);
            else
                done = SendKey(top, rule, i);
            if (!done) {
                Emit("\"event\":\"warning\",\"text\":" + JsonString(L"unknown key '" + rule.key + L"'"));
                rule.count = 0;
                continue;
            }
            if (rule.count > 0)
                --rule.count;
            // A repeated action waits its delay again.
            rule.armedSince[top] = GetTickCount();
        }
    }

    int Stop(const char* reason)
    {
        for (HWND h : TopWindows()) {
            if (!IsWindowVisible(h) || !Tracked(PidOf(h)))
                continue;
            Emit("\"event\":\"open\",\"hwnd\":" + HwndId(h) + ",\"box\":" + Bool(IsMessageBox(h)) +
                 ",\"title\":" + JsonString(TextOf(h)) + ",\"text\":" +
                 JsonString(IsMessageBox(h) ? TextOf(GetDlgItem(h, 0xFFFF)) : std::wstring()));
        }
        for (auto& kv : procs_)
            if (kv.second.tracked && kv.second.handle.Valid())
                Emit("\"event\":\"running\",\"pid\":" + Num(kv.first) + ",\"exe\":" + JsonString(kv.second.exe));
        // How closely the program was watched: a state shorter than a scan
        // may go unseen.
        Emit("\"event\":\"stats\",\"scans\":" + Num(polls_) + ",\"scan_ms_mean\":" +
             Num(polls_ ? pollTotal_ / polls_ : 0) + ",\"scan_ms_max\":" + Num(pollMax_) +
             ",\"sleep_ms\":" + Num(opts_.pollMs));
        Emit(std::string("\"event\":\"stopped\",\"reason\":\"") + reason + "\"");
        return 0;
    }
};

bool ReadRulesFile(const std::wstring& path, std::vector<Rule>& rules)
{
    std::string data;
    if (!ReadWholeFile(path, data))
        return false;
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find('\n', start);
        std::string line = data.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? data.size() : end + 1;
        if (line.empty() || line[0] == '#' || line == "\r")
            continue;
        Rule rule;
        std::wstring error;
        if (!ParseRule(Wide(line), rule, error)) {
            Emit("\"event\":\"error\",\"text\":" + JsonString(L"rule '" + Wide(line) + L"': " + error));
            return false;
        }
        rules.push_back(rule);
    }
    return true;
}

int Usage()
{
    std::fputs("usage: robot.exe --log FILE [--stop FILE] [--idle FILE] [--timeout S] [--poll MS]\n"
               "                 [--rules FILE] [--rule RULE]... [--all 1] [--run FILE]\n",
               stderr);
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    g_start = GetTickCount();
    Options opts;
    std::vector<std::wstring> ruleFiles, ruleLines;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (i + 1 >= argc)
            return Usage();
        std::wstring v = argv[++i];
        if (a == L"--log")
            opts.log = v;
        else if (a == L"--stop")
            opts.stop = v;
        else if (a == L"--idle")
            opts.idle = v;
        else if (a == L"--timeout")
            opts.timeoutMs = static_cast<DWORD>(_wtoi(v.c_str())) * 1000;
        else if (a == L"--poll")
            opts.pollMs = static_cast<DWORD>(std::max(1, _wtoi(v.c_str())));
        else if (a == L"--rules")
            ruleFiles.push_back(v);
        else if (a == L"--rule")
            ruleLines.push_back(v);
        else if (a == L"--all")
            opts.all = v != L"0";
        else if (a == L"--run")
            opts.run = v;
        else
            return Usage();
    }
    if (opts.log.empty())
        return Usage();
    g_log = UniqueHandle(CreateFileW(opts.log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!g_log.Valid()) {
        std::fputs("robot: cannot open the log\n", stderr);
        return 2;
    }
    for (const std::wstring& f : ruleFiles)
        if (!ReadRulesFile(f, opts.rules))
            return 2;
    for (const std::wstring& line : ruleLines) {
        Rule rule;
        std::wstring error;
        if (!ParseRule(line, rule, error)) {
            Emit("\"event\":\"error\",\"text\":" + JsonString(L"rule '" + line + L"': " + error));
            return 2;
        }
        opts.rules.push_back(rule);
    }
    return Robot(std::move(opts)).Run();
}
