// Loads libLogger.so with dlopen, records through a host object that uses it, calls
// Term and unloads both again. Run under ASan, leaks and bad frees end it non-zero.
//   module_probe <libLogger.so> <probe_host.so> <directory>
#include <cstdio>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {
int Fail(const std::string& what)
{
    std::fprintf(stderr, "module_probe: %s\n", what.c_str());
    return 1;
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) return Fail("usage: module_probe LIBLOGGER PROBEHOST DIRECTORY");
    void* logger = dlopen(argv[1], RTLD_NOW | RTLD_GLOBAL);
    if (!logger) return Fail(dlerror());
    auto init = reinterpret_cast<void* (*)()>(dlsym(logger, "Init"));
    auto term = reinterpret_cast<void (*)()>(dlsym(logger, "Term"));
    if (!init || !term || !dlsym(logger, "OpenSpecificLogger")) return Fail("entry points missing");
    if (init() != init()) return Fail("Init made two managers");
    void* host = dlopen(argv[2], RTLD_NOW);
    if (!host) return Fail(dlerror());
    auto record = reinterpret_cast<int (*)(const char*, int)>(dlsym(host, "ProbeRecord"));
    if (!record || record(argv[3], 100) != 0) return Fail("recording failed");
    term();
    dlclose(host);
    if (dlclose(logger) != 0) return Fail(dlerror());
    // The log file: header position word, then 100 records of 51 bytes.
    std::ifstream in(std::string(argv[3]) + "/probe.vkl", std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 4) return Fail("no log file");
    const unsigned h = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<unsigned>(bytes[3]) << 24);
    if (h != 4 + 100 * 51) return Fail("header position " + std::to_string(h) + ", expected " + std::to_string(4 + 100 * 51));
    std::printf("module loaded, recorded 100 messages, unloaded\n");
    return 0;
}
