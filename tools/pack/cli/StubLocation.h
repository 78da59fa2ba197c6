// Where the bare stubs are when --stub is not given: installed beside the
// tool (PREFIX/bin/cabsetup, PREFIX/share/cabsetup/), or in the build's
// out/ folder, found from the tool's own path so that any prefix works.
#pragma once
#include <string>
#include <vector>

// The stub file of a target: "i386" (stub.exe) or "x86-64" (stub64.exe);
// empty for another name.
std::string StubFileName(const std::string& arch);

// The places, in order, where a stub of that file name is looked for.
std::vector<std::string> StubCandidates(const std::string& fileName);

// The first candidate that exists; ToolError naming where it looked.
std::string FindStub(const std::string& arch);
