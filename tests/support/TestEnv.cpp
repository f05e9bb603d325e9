#include "tests/support/TestEnv.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

RecordingMessageBoxes::RecordingMessageBoxes()
{
    m_previous = SetMessageBoxHandler([this](const MessageBoxRequest& r) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shown.push_back(r);
        if (!m_answers.empty()) {
            const int a = m_answers.front();
            m_answers.pop_front();
            return a;
        }
        return DefaultMessageBoxAnswer(r.type);
    });
}

void RecordingMessageBoxes::Answer(int answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers.push_back(answer);
}

std::vector<MessageBoxRequest> RecordingMessageBoxes::Shown() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_shown;
}

std::vector<std::string> RecordingMessageBoxes::Texts() const
{
    std::vector<std::string> out;
    for (const auto& r : Shown()) out.push_back(r.text.str());
    return out;
}

HostFixture::HostFixture()
    : settings(std::make_shared<CMemorySettingsStore>()),
      clock(std::make_shared<CFixedClock>(CSystemTime(2011, 3, 3, 14, 5, 9, 0))),
      freeSpace(std::make_shared<CFixedFreeSpace>(FreeSpaceResult{FreeSpaceResult::ok, 100ull << 30})),
      trace(std::make_shared<CMemoryTraceSink>()),
      devices(std::make_shared<CDeviceTable>())
{
    std::filesystem::create_directories(tmp.path() + "/Bin Logs");
    HostServices s = Services::Current();
    s.settings = settings;
    s.homeDirectory = tmp.path().c_str();
    s.clock = clock;
    s.freeSpace = freeSpace;
    s.trace = trace;
    s.deviceLink = devices;
    s.bus = std::make_shared<CMessageBus>();
    m_services = std::make_unique<CScopedServices>(s);
}

HostFixture::~HostFixture() = default;

std::vector<uint8_t> ReadAll(const std::string& path)
{
    const std::string text = ReadText(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path)
{
    return std::filesystem::exists(path);
}
