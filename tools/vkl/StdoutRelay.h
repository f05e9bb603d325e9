#pragma once
// Standard output as a new file for the library. The library makes every output as a
// new file and never opens an existing one, except a pipe (FIFO) of the user's own; so
// `-o -` gives it a pipe made in a private directory, and a thread copies what arrives
// there to standard output as it comes.
#include <atomic>
#include <string>
#include <thread>

namespace vkl {

class StdoutRelay {
public:
    StdoutRelay();
    ~StdoutRelay();
    StdoutRelay(const StdoutRelay&) = delete;
    StdoutRelay& operator=(const StdoutRelay&) = delete;

    // Empty when the pipe could not be made (Error() says why).
    const std::string& Path() const { return m_path; }
    const std::string& Error() const { return m_error; }
    // Once the writer has closed the file: copies what is left, stops; false when
    // standard output refused a write.
    bool Finish();

private:
    void Run();
    std::string m_dir, m_path, m_error;
    int m_fd = -1;
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_failed{false};
    std::thread m_thread;
};

}  // namespace vkl
