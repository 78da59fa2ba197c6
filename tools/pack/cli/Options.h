// The command line of pack, cab and inspect: walking the arguments, and
// the options and values the commands share. A wrong command line is a
// UsageError (exit status 2).
#pragma once
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tools/pack/ToolError.h"
#include "tools/pack/cab/CabWriter.h"
#include "tools/pack/cli/Progress.h"
#include "tools/pack/packer/Packer.h"

struct UsageError : ToolError {
    using ToolError::ToolError;
};

// Walks the arguments of one command: options with or without "=value".
class Args {
public:
    Args(int argc, char** argv, int first) : args_(argv + first, argv + argc) {}

    bool Done() const { return i_ >= args_.size(); }
    bool IsOption() const { return !afterDashes_ && args_[i_].size() > 1 && args_[i_][0] == '-'; }
    // Takes "--name" or "--name=value" when it is next.
    bool Flag(const char* name)
    {
        if (args_[i_] != name)
            return false;
        ++i_;
        return true;
    }
    bool Value(const char* name, std::string& value)
    {
        const std::string& a = args_[i_];
        size_t n = std::strlen(name);
        if (a.compare(0, n, name) != 0 || (a.size() > n && a[n] != '='))
            return false;
        if (a.size() > n) {
            value = a.substr(n + 1);
        } else {
            if (i_ + 1 >= args_.size())
                throw UsageError(std::string(name) + " needs a value");
            value = args_[++i_];
        }
        ++i_;
        return true;
    }
    std::string Positional()
    {
        if (args_[i_] == "--" && !afterDashes_) {
            afterDashes_ = true;
            ++i_;
            return "";
        }
        return args_[i_++];
    }
    const std::string& Current() const { return args_[i_]; }

private:
    std::vector<std::string> args_;
    size_t i_ = 0;
    bool afterDashes_ = false;
};

int ParseInt(const std::string& option, const std::string& v, int lo, int hi);
std::pair<std::string, std::string> SplitPair(const std::string& option, const std::string& v);

// mszip, lzx, lzx:BITS or none. MSZIP keeps a level given before it.
void ParseCompression(const std::string& v, CabWriteOptions& cab);

// Options shared by pack and cab. Returns true when it took the argument.
bool FileOption(Args& a, CollectOptions& collect, CabWriteOptions& cab);

// SOURCE_DATE_EPOCH, the reproducible-builds convention: no file time
// after it.
void ReadSourceDateEpoch(CollectOptions& collect);

// Whether an option is among the arguments before "--".
bool HasFlag(int argc, char** argv, const char* flag);
bool WantsHelp(int argc, char** argv);

// How much pack and cab say: --quiet, --progress (and for pack --json).
struct Say {
    bool quiet = false;
    bool progress = false;
    bool json = false;

    bool Option(Args& a)
    {
        if (a.Flag("--quiet"))
            quiet = true;
        else if (a.Flag("--progress"))
            progress = true;
        else
            return false;
        return true;
    }
    void Check() const
    {
        if (quiet && progress)
            throw UsageError("--quiet and --progress go against each other");
    }
    ProgressMode Mode() const
    {
        return quiet ? ProgressMode::Never : progress ? ProgressMode::Always : ProgressMode::Auto;
    }
};
