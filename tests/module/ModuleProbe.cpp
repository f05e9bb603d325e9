// Loads libLogger.so with dlopen, records through a host object that uses it, calls
// Term and unloads both again. Run under ASan, leaks and bad frees end it non-zero.
//   module_probe <libLogger.so> <probe_host.so> <directory>
#include <cstdio>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: module_probe LIBLOGGER PROBEHOST DIRECTORY\n");
        return 2;
    }
    void* logger = dlopen(argv[1], RTLD_NOW | RTLD_GLOBAL);
    if (!logger) {
        std::fprintf(stderr, "dlopen %s: %s\n", argv[1], dlerror());
        return 1;
    }
    using InitFn = void* (*)();
    auto init = reinterpret_cast<InitFn>(dlsym(logger, "Init"));
    auto term = reinterpret_cast<void (*)()>(dlsym(logger, "Term"));
    if (!init || !term || !dlsym(logger, "OpenSpecificLogger")) {
        std::fprintf(stderr, "entry points missing\n");
        return 1;
    }
    if (init() != init()) {
        std::fprintf(stderr, "Init made two managers\n");
        return 1;
    }
    void* host = dlopen(argv[2], RTLD_NOW);
    if (!host) {
        std::fprintf(stderr, "dlopen %s: %s\n", argv[2], dlerror());
        return 1;
    }
    auto record = reinterpret_cast<int (*)(const char*, int)>(dlsym(host, "ProbeRecord"));
    if (!record || record(argv[3], 100) != 0) {
        std::fprintf(stderr, "recording failed\n");
        return 1;
    }
    term();
    dlclose(host);
    if (dlclose(logger) != 0) {
        std::fprintf(stderr, "dlclose: %s\n", dlerror());
        return 1;
    }
    // The log file: header position word, then 100 records of 51 bytes.
    std::ifstream in(std::string(argv[3]) + "/probe.vkl", std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 4) {
        std::fprintf(stderr, "no log file\n");
        return 1;
    }
    const unsigned h = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<unsigned>(bytes[3]) << 24);
    if (h != 4 + 100 * 51) {
        std::fprintf(stderr, "header position %u, expected %u\n", h, 4 + 100 * 51);
        return 1;
    }
    std::printf("module loaded, recorded 100 messages, unloaded\n");
    return 0;
}
