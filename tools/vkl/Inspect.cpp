#include "tools/vkl/Inspect.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>

#include "logfile/LogFile.h"
#include "platform/VESKMessage.h"
#include "tools/vkl/Commands.h"
#include "tools/vkl/Host.h"

namespace vkl {
namespace {

std::string TimeText(const CSystemTime& t)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond, t.wMilliseconds);
    return buf;
}

std::string AfterColon(const CString& s)
{
    const int colon = s.Find(':');
    return colon >= 0 ? s.Mid(colon + 1).str() : std::string();
}

bool OpenForReading(const std::string& path, CLogFile& file, std::string& error)
{
    CFile probe;
    CFileException e;
    if (!probe.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone, &e)) {
        error = path + ": cannot open: " + (e.m_lOsError ? std::strerror(e.m_lOsError) : "unknown error");
        return false;
    }
    probe.Close();
    if (!file.OpenForInspection(path.c_str())) {
        error = path + ": cannot open";
        return false;
    }
    return true;
}

}  // namespace

std::string FormatSystemTime(const void* systemTime)
{
    return TimeText(*static_cast<const CSystemTime*>(systemTime));
}

bool Summarise(const std::string& path, FileSummary& s, std::string& error, bool showProgress)
{
    CLogFile file;
    if (!OpenForReading(path, file, error)) return false;
    s = FileSummary();
    s.path = path;
    s.size = file.GetLength();
    if (s.size < CLogFile::kFirstRecord) {
        error = path + ": not a log file (" + std::to_string(s.size) + " bytes, too short for a header position)";
        return false;
    }
    s.headerPosition = file.GetHeaderPosition();
    s.needsRepair = file.NeedsRepair();
    const CLogFileHeader& h = *file.GetLogFileHeader();
    s.currentLayout = h.m_bHasHeaderVersion != 0 || s.needsRepair;
    s.headerVersion = h.m_bHasHeaderVersion ? h.m_strHeaderVersion.str() : std::string();
    s.toolVersion = h.m_strVESKVersion.str();
    s.deviceVersion = h.m_strUEVersion.str();
    s.description = h.m_strFileDescription.str();
    s.created = TimeText(h.m_creationTime);
    if (h.GetAnchorPosition() != CLogBookmark::kNoPosition) s.anchorPosition = h.GetAnchorPosition();
    s.anchorDescription = h.GetAnchorDescription().str();
    for (const CLogBookmark& b : h.m_bookmarks) s.bookmarks.emplace_back(b.m_dwFilePos, b.m_strDescription.str());
    s.pages = h.m_nNumOfPages;
    for (size_t i = 0; i < h.m_astrDevices.size(); ++i) {
        FileSummary::Device d;
        d.record = h.m_astrDevices[i].str();
        if (2 * i < h.m_astrDeviceOsTypes.size()) d.comOsType = AfterColon(h.m_astrDeviceOsTypes[2 * i]);
        if (2 * i + 1 < h.m_astrDeviceOsTypes.size()) d.appOsType = AfterColon(h.m_astrDeviceOsTypes[2 * i + 1]);
        s.devices.push_back(d);
    }

    Progress progress("reading " + path, s.headerPosition);
    // One message object for every record (its data storage is reused); only the first
    // and last times are turned into text, after the loop.
    CVESKMessage m;
    CSystemTime firstTime, lastTime;
    try {
        while (file.GetPosition() < file.GetHeaderPosition()) {
            ReadLogRecord(file, m);
            if (m.GetDataLength() < 0) {
                s.readError = "unreadable record (negative data length)";
                break;
            }
            ++s.records;
            if (!s.firstIndex) {
                s.firstIndex = m.GetMessageIndex();
                firstTime = m.GetPCTimeStamp();
            }
            s.lastIndex = m.GetMessageIndex();
            lastTime = m.GetPCTimeStamp();
            if (showProgress && (s.records & 1023) == 0) progress.Update(file.GetPosition());
        }
    } catch (const CException& e) {
        s.readError = e.GetErrorMessage().str();
    }
    if (s.firstIndex) {
        s.firstTime = TimeText(firstTime);
        s.lastTime = TimeText(lastTime);
    }
    progress.Finish();
    s.readEnd = static_cast<uint32_t>(std::min<uint64_t>(file.GetPosition(), 0xFFFFFFFFu));
    if (s.readError.size()) {
        // The archive names the file; keep the reason only.
        const size_t colon = s.readError.find(": ");
        if (colon != std::string::npos && s.readError.compare(0, colon, path) == 0) s.readError.erase(0, colon + 2);
    }
    file.Close();
    if (s.needsRepair && s.records == 0 && !s.readError.empty()) {
        error = path + ": not a log file (no header and no readable record)";
        return false;
    }
    return true;
}

std::string SummaryText(const FileSummary& s)
{
    std::ostringstream o;
    o << s.path << "\n";
    o << "  size             " << s.size << " bytes, header at " << s.headerPosition << "\n";
    if (s.needsRepair) o << "  state            NEEDS REPAIR (recording ended without a close, or damaged header)\n";
    o << "  layout           " << (s.needsRepair ? "unknown" : s.currentLayout ? "current" : "earlier (no header version)") << "\n";
    if (!s.headerVersion.empty()) o << "  header version   " << s.headerVersion << "\n";
    o << "  tool version     " << s.toolVersion << "\n";
    o << "  device version   " << (s.deviceVersion.empty() ? "-" : s.deviceVersion) << "\n";
    o << "  description      " << (s.description.empty() ? "-" : s.description) << "\n";
    o << "  created          " << s.created << "\n";
    if (s.anchorPosition)
        o << "  anchor           " << *s.anchorPosition << " " << s.anchorDescription << "\n";
    o << "  pages            " << s.pages << "\n";
    o << "  records          " << s.records;
    if (s.firstIndex) o << ", index " << *s.firstIndex << " .. " << *s.lastIndex;
    o << "\n";
    if (s.firstIndex) o << "  PC time          " << s.firstTime << " .. " << s.lastTime << "\n";
    if (!s.readError.empty()) o << "  read error       at offset " << s.readEnd << ": " << s.readError << "\n";
    o << "  bookmarks        " << s.bookmarks.size() << "\n";
    for (const auto& b : s.bookmarks) o << "    " << b.first << "  " << b.second << "\n";
    o << "  devices          " << s.devices.size() << "\n";
    for (const auto& d : s.devices)
        o << "    " << d.record << "  (Com OS " << d.comOsType << ", App OS " << d.appOsType << ")\n";
    return o.str();
}

namespace {
nlohmann::json SummaryJson(const FileSummary& s)
{
    nlohmann::json j;
    j["path"] = s.path;
    j["size"] = s.size;
    j["header_position"] = s.headerPosition;
    j["needs_repair"] = s.needsRepair;
    j["layout"] = s.needsRepair ? "unknown" : s.currentLayout ? "current" : "earlier";
    j["header_version"] = s.headerVersion;
    j["tool_version"] = s.toolVersion;
    j["device_version"] = s.deviceVersion;
    j["description"] = s.description;
    j["created"] = s.created;
    j["anchor"] = s.anchorPosition ? nlohmann::json{{"position", *s.anchorPosition}, {"description", s.anchorDescription}}
                                   : nlohmann::json(nullptr);
    j["bookmarks"] = nlohmann::json::array();
    for (const auto& b : s.bookmarks) j["bookmarks"].push_back({{"position", b.first}, {"description", b.second}});
    j["pages"] = s.pages;
    j["devices"] = nlohmann::json::array();
    for (const auto& d : s.devices)
        j["devices"].push_back({{"record", d.record}, {"com_os_type", d.comOsType}, {"app_os_type", d.appOsType}});
    j["records"] = s.records;
    j["first_index"] = s.firstIndex ? nlohmann::json(*s.firstIndex) : nlohmann::json(nullptr);
    j["last_index"] = s.lastIndex ? nlohmann::json(*s.lastIndex) : nlohmann::json(nullptr);
    j["first_time"] = s.firstIndex ? nlohmann::json(s.firstTime) : nlohmann::json(nullptr);
    j["last_time"] = s.lastIndex ? nlohmann::json(s.lastTime) : nlohmann::json(nullptr);
    j["read_error"] = s.readError.empty() ? nlohmann::json(nullptr) : nlohmann::json(s.readError);
    j["read_end"] = s.readEnd;
    return j;
}
}  // namespace

int CmdInfo(const std::vector<std::string>& files, bool json)
{
    int status = kOk;
    nlohmann::json all = nlohmann::json::array();
    bool first = true;
    for (const std::string& path : files) {
        FileSummary s;
        std::string error;
        if (!Summarise(path, s, error, !json)) {
            Error(error);
            status = kFailed;
            continue;
        }
        if (json) {
            all.push_back(SummaryJson(s));
        } else {
            if (!first) std::printf("\n");
            std::fputs(SummaryText(s).c_str(), stdout);
            first = false;
        }
        if (s.needsRepair) {
            Error(path + ": needs repair; 'vkl repair " + path + "' repairs it");
            status = kFailed;
        } else if (!s.readError.empty()) {
            Error(path + ": record at offset " + std::to_string(s.readEnd) + " cannot be read: " + s.readError);
            status = kFailed;
        }
    }
    if (json) std::printf("%s\n", nlohmann::json{{"files", all}}.dump(2).c_str());
    return status;
}

int CmdMessages(const std::string& path, std::optional<uint64_t> from, std::optional<uint64_t> to, bool json)
{
    CLogFile file;
    std::string error;
    if (!OpenForReading(path, file, error)) {
        Error(error);
        return kFailed;
    }
    if (file.GetLength() < CLogFile::kFirstRecord) {
        Error(path + ": not a log file (too short for a header position)");
        return kFailed;
    }
    nlohmann::json list = nlohmann::json::array();
    if (!json) std::printf("%10s  %12s  %-23s  %6s  %4s  %5s  %6s\n", "offset", "index", "PC time", "device", "kind", "type", "length");
    int status = kOk;
    uint64_t offset = CLogFile::kFirstRecord;
    try {
        while (file.GetPosition() < file.GetHeaderPosition()) {
            offset = file.GetPosition();
            CVESKMessage m;
            ReadLogRecord(file, m);
            if (m.GetDataLength() < 0) throw CArchiveException(CArchiveException::genericException);
            const uint64_t index = m.GetMessageIndex();
            if (from && index < *from) continue;
            if (to && index > *to) continue;
            if (json) {
                list.push_back({{"offset", offset}, {"index", index}, {"pc_time", TimeText(m.GetPCTimeStamp())},
                                {"device", m.GetDeviceNumber()}, {"kind", m.GetKind()}, {"message_type", m.GetMessageType()},
                                {"data_length", m.GetDataLength()}});
            } else {
                std::printf("%10llu  %12llu  %-23s  %6d  %4d  %5u  %6d\n", static_cast<unsigned long long>(offset),
                            static_cast<unsigned long long>(index), TimeText(m.GetPCTimeStamp()).c_str(), m.GetDeviceNumber(),
                            m.GetKind(), m.GetMessageType(), m.GetDataLength());
            }
        }
    } catch (const CException&) {
        Error(path + ": record at offset " + std::to_string(offset) + " cannot be read");
        status = kFailed;
    }
    if (file.NeedsRepair()) {
        Error(path + ": needs repair; records were read up to the end of the file");
        status = kFailed;
    }
    file.Close();
    if (json) std::printf("%s\n", nlohmann::json{{"file", path}, {"messages", list}}.dump(2).c_str());
    return status;
}

void AddInspectCommands(CLI::App& app, CommandList& out)
{
    struct InfoOptions {
        std::vector<std::string> files;
        bool json = false;
    };
    auto info = std::make_shared<InfoOptions>();
    auto* cInfo = app.add_subcommand("info", "Summarise log files (never changes them)");
    cInfo->add_option("FILE", info->files, "Log files")->required();
    cInfo->add_flag("--json", info->json, "One JSON document");
    out.push_back({cInfo, [info] { return CmdInfo(info->files, info->json); }});

    struct MessagesOptions {
        std::string file;
        std::optional<uint64_t> from, to;
        bool json = false;
    };
    auto msg = std::make_shared<MessagesOptions>();
    auto* c = app.add_subcommand("messages", "List the records of a log file (never changes it)");
    c->add_option("FILE", msg->file, "Log file")->required();
    c->add_option("--from", msg->from, "First message index");
    c->add_option("--to", msg->to, "Last message index");
    c->add_flag("--json", msg->json, "One JSON document");
    out.push_back({c, [msg] { return CmdMessages(msg->file, msg->from, msg->to, msg->json); }});
}

}  // namespace vkl
