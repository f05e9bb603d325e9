#include "tools/vkl/StdoutRelay.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vkl {
namespace {
constexpr size_t kChunk = 64 * 1024;
constexpr int kPollMs = 20;

bool WriteAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}
}  // namespace

StdoutRelay::StdoutRelay()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/vkl-stdout.XXXXXX";
    if (!::mkdtemp(templ.data())) {
        m_error = std::string("cannot make a private directory for standard output: ") + std::strerror(errno);
        return;
    }
    m_dir = templ;
    const std::string path = m_dir + "/out";
    if (::mkfifo(path.c_str(), 0600) != 0 || (m_fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
        m_error = std::string("cannot make a pipe for standard output: ") + std::strerror(errno);
        return;
    }
    m_path = path;
    m_thread = std::thread([this] { Run(); });
}

StdoutRelay::~StdoutRelay()
{
    Finish();
    if (m_fd >= 0) ::close(m_fd);
    if (!m_dir.empty()) {
        ::unlink((m_dir + "/out").c_str());
        ::rmdir(m_dir.c_str());
    }
}

// Copies until told the writer is done and nothing is left. After a failed write to
// standard output the rest is read and dropped, so the writer never blocks.
void StdoutRelay::Run()
{
    std::vector<char> buf(kChunk);
    for (;;) {
        const bool done = m_done;  // read before the pipe: data written before it is seen
        const ssize_t n = ::read(m_fd, buf.data(), buf.size());
        if (n > 0) {
            if (!m_failed && !WriteAll(STDOUT_FILENO, buf.data(), static_cast<size_t>(n))) m_failed = true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (done) return;
        pollfd p{m_fd, POLLIN, 0};
        // With no writer at the other end a pipe reports a hang-up at once: wait anyway.
        if (::poll(&p, 1, kPollMs) > 0 && (p.revents & POLLIN) == 0) ::usleep(kPollMs * 1000);
    }
}

bool StdoutRelay::Finish()
{
    m_done = true;
    if (m_thread.joinable()) m_thread.join();
    return !m_failed;
}

}  // namespace vkl
