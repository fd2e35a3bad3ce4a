// Independent checks through Python; see python_check.h.
#include "python_check.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

namespace trv::test {

std::string WriteTempFile(const std::string& bytes, const char* suffix) {
    std::string pattern = std::string("/tmp/trv_desktop_XXXXXX") + suffix;
    std::unique_ptr<char[]> name(new char[pattern.size() + 1]);
    pattern.copy(name.get(), pattern.size());
    name[pattern.size()] = '\0';
    const int fd = mkstemps(name.get(), static_cast<int>(std::string(suffix).size()));
    if (fd < 0) return std::string();
    close(fd);
    std::ofstream(name.get(), std::ios::binary) << bytes;
    return name.get();
}

int RunPythonOn(const std::string& program, const std::string& bytes, std::string& output) {
    const std::string file = WriteTempFile(bytes, ".bin");
    const std::string script = WriteTempFile(program, ".py");
    const std::string command = std::string(TRV_PYTHON) + " " + script + " " + file;
    output.clear();
    FILE* pipe = popen(command.c_str(), "r");
    int status = -1;
    if (pipe != nullptr) {
        std::array<char, 512> buffer;
        size_t got;
        while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), got);
        status = pclose(pipe);
    }
    std::remove(file.c_str());
    std::remove(script.c_str());
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace trv::test
