#pragma once
// Runs a short Python program over bytes the code under test produced, so that formats are checked by an
// independent reader (json, zipfile) rather than by our own decoder.

#include <string>

namespace trv::test {

// Writes `bytes` to a temporary file, runs `python3 -c program <file>` and returns its exit code; the
// program's standard output is placed in `output`.
int RunPythonOn(const std::string& program, const std::string& bytes, std::string& output);

// The path of a temporary file holding `bytes` (removed by the caller).
std::string WriteTempFile(const std::string& bytes, const char* suffix);

}  // namespace trv::test
