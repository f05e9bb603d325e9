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
#include "tools/vkl/Files.h"
#include "tools/vkl/Host.h"
#include "tools/vkl/Options.h"

namespace vkl {

struct RecordCounter::Counted {
    ULONGLONG offset = CLogFile::kFirstRecord;
    RecordSkim skim;
};

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
    error = CheckInputFile(path);
    if (!error.empty()) return false;
    if (!file.OpenForInspection(path.c_str())) {
        const std::string why = OpenErrorText(file);
        error = path + ": cannot open" + (why.empty() ? std::string() : ": " + why);
        return false;
    }
    return true;
}

void SummariseHeader(CLogFile& file, FileSummary& s)
{
    const CLogFileHeader& h = *file.GetLogFileHeader();
    s.currentLayout = h.m_bHasHeaderVersion != 0 || s.needsRepair;
    s.headerVersion = h.m_bHasHeaderVersion ? AnsiToUtf8(h.m_strHeaderVersion.str()) : std::string();
    s.toolVersion = AnsiToUtf8(h.m_strVESKVersion.str());
    s.deviceVersion = AnsiToUtf8(h.m_strUEVersion.str());
    s.description = AnsiToUtf8(h.m_strFileDescription.str());
    s.created = TimeText(h.m_creationTime);
    if (h.GetAnchorPosition() != CLogBookmark::kNoPosition) s.anchorPosition = h.GetAnchorPosition();
    s.anchorDescription = AnsiToUtf8(h.GetAnchorDescription().str());
    for (const CLogBookmark& b : h.m_bookmarks)
        s.bookmarks.emplace_back(b.m_dwFilePos, AnsiToUtf8(b.m_strDescription.str()));
    s.pages = h.m_nNumOfPages;
    for (size_t i = 0; i < h.m_astrDevices.size(); ++i) {
        FileSummary::Device d;
        d.record = AnsiToUtf8(h.m_astrDevices[i].str());
        if (2 * i < h.m_astrDeviceOsTypes.size()) d.comOsType = AnsiToUtf8(AfterColon(h.m_astrDeviceOsTypes[2 * i]));
        if (2 * i + 1 < h.m_astrDeviceOsTypes.size())
            d.appOsType = AnsiToUtf8(AfterColon(h.m_astrDeviceOsTypes[2 * i + 1]));
        s.devices.push_back(d);
    }
}

// The archive's texts name the file; the summary keeps the reason only.
std::string Reason(const CException& e, const std::string& path)
{
    std::string text = e.GetErrorMessage().str();
    const size_t colon = text.find(": ");
    if (colon != std::string::npos && text.compare(0, colon, path) == 0) text.erase(0, colon + 2);
    return text;
}

// Reads the records up to the header position by the same rules a repair applies, so
// that info, messages and repair name the same offset for the same bad record. Only the
// first and last times are kept, as structures; they are formatted once at the end.
void SummariseRecords(CLogFile& file, FileSummary& s, bool showProgress, const RecordCounter::Counted* counted)
{
    Progress progress("reading " + s.path, s.headerPosition);
    RecordSkim skim;
    ULONGLONG offset = CLogFile::kFirstRecord;
    if (counted && counted->offset <= s.headerPosition) {
        skim = counted->skim;
        offset = counted->offset;
    }
    try {
        SkimLogFile(file, offset, s.headerPosition, skim, [&](ULONGLONG at) {
            if (showProgress) progress.Update(at);
        });
    } catch (const CException& e) {
        s.readError = Reason(e, s.path);
    }
    progress.Finish();
    s.records = skim.records;
    s.readEnd = static_cast<uint32_t>(std::min<uint64_t>(offset, 0xFFFFFFFFu));
    if (skim.records) {
        s.firstIndex = skim.firstIndex;
        s.lastIndex = skim.lastIndex;
        s.firstTime = TimeText(skim.firstTime);
        s.lastTime = TimeText(skim.lastTime);
    }
}

}  // namespace

struct RecordCounter::Followed {
    CFile file;
    Counted counted;
    bool stopped = false;  // a record it could not judge: the summary reads on from there
};

RecordCounter::RecordCounter() = default;
RecordCounter::~RecordCounter() = default;

void RecordCounter::Step(const std::string& path, size_t budget)
{
    std::unique_ptr<Followed>& f = m_files[path];
    if (!f) {
        f = std::make_unique<Followed>();
        if (!f->file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone)) f->stopped = true;
    }
    if (f->stopped) return;
    try {
        const ULONGLONG length = f->file.GetLength();
        while (budget > 0 && f->counted.offset < length) {
            const size_t want = static_cast<size_t>(std::min<ULONGLONG>(length - f->counted.offset, budget));
            m_buffer.resize(std::max(m_buffer.size(), want));
            f->file.SeekAbsolute(f->counted.offset);
            const UINT got = f->file.Read(m_buffer.data(), static_cast<UINT>(want));
            bool ruleBroken = false;
            const size_t used = SkimLogRecords(m_buffer.data(), got, f->counted.skim, &ruleBroken);
            f->counted.offset += used;
            budget -= std::min<size_t>(budget, got);
            // A record not yet written whole ends the step; one that breaks the rules, or
            // that a whole read of the budget cannot take, ends the following.
            if (used < got) {
                if (ruleBroken || (used == 0 && got == want && length - f->counted.offset > want)) f->stopped = true;
                break;
            }
            if (got < want) break;
        }
    } catch (const CException&) {
        f->stopped = true;
    }
}

const RecordCounter::Counted* RecordCounter::Find(const std::string& path) const
{
    const auto it = m_files.find(path);
    return it == m_files.end() ? nullptr : &it->second->counted;
}

std::string FormatSystemTime(const void* systemTime)
{
    return TimeText(*static_cast<const CSystemTime*>(systemTime));
}

std::string DamageText(const std::string& path, bool beingRecorded)
{
    if (beingRecorded) return path + ": is being recorded by another process; look again when it is closed";
    return path + ": needs repair; 'vkl repair " + path + "' repairs it";
}

bool Summarise(const std::string& path, FileSummary& s, std::string& error, bool showProgress,
               const RecordCounter* counted)
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
    s.beingRecorded = file.IsBeingRecorded() && s.needsRepair;
    s.repairDrops = file.GetRepairReport().droppedBytes;
    s.repairKeepsHeader = file.GetRepairReport().headerKept;
    SummariseHeader(file, s);
    SummariseRecords(file, s, showProgress, counted && !s.needsRepair ? counted->Find(path) : nullptr);
    file.Close();
    if (s.needsRepair && !s.beingRecorded && s.records == 0 && !s.repairKeepsHeader && s.repairDrops > 0) {
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
    if (s.beingRecorded)
        o << "  state            BEING RECORDED by another process (its header is written when it is closed)\n";
    else if (s.needsRepair)
        o << "  state            NEEDS REPAIR (recording ended without a close, or damaged); a repair keeps "
          << s.records << " records" << (s.repairKeepsHeader ? " and the header" : "") << ", cuts " << s.repairDrops
          << " bytes\n";
    o << "  layout           "
      << (s.needsRepair     ? "unknown"
          : s.currentLayout ? "current"
                            : "earlier (no header version)")
      << "\n";
    auto text = [](const std::string& utf8) { return utf8.substr(0, utf8.find('\0')); };
    if (!s.headerVersion.empty()) o << "  header version   " << text(s.headerVersion) << "\n";
    o << "  tool version     " << text(s.toolVersion) << "\n";
    o << "  device version   " << (s.deviceVersion.empty() ? "-" : text(s.deviceVersion)) << "\n";
    o << "  description      " << (s.description.empty() ? "-" : text(s.description)) << "\n";
    o << "  created          " << s.created << "\n";
    if (s.anchorPosition) o << "  anchor           " << *s.anchorPosition << " " << text(s.anchorDescription) << "\n";
    o << "  pages            " << s.pages << "\n";
    o << "  records          " << s.records;
    if (s.firstIndex) o << ", index " << *s.firstIndex << " .. " << *s.lastIndex;
    o << "\n";
    if (s.firstIndex) o << "  PC time          " << s.firstTime << " .. " << s.lastTime << "\n";
    if (!s.readError.empty()) o << "  read error       at offset " << s.readEnd << ": " << s.readError << "\n";
    o << "  bookmarks        " << s.bookmarks.size() << "\n";
    for (const auto& b : s.bookmarks) o << "    " << b.first << "  " << text(b.second) << "\n";
    o << "  devices          " << s.devices.size() << "\n";
    for (const auto& d : s.devices)
        o << "    " << text(d.record) << "  (Com OS " << text(d.comOsType) << ", App OS " << text(d.appOsType) << ")\n";
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
    j["being_recorded"] = s.beingRecorded;
    j["repair"] = s.needsRepair && !s.beingRecorded ? nlohmann::json{{"records_kept", s.records},
                                                                     {"bytes_cut", s.repairDrops},
                                                                     {"header_kept", s.repairKeepsHeader}}
                                                    : nlohmann::json(nullptr);
    j["layout"] = s.needsRepair ? "unknown" : s.currentLayout ? "current" : "earlier";
    j["header_version"] = s.headerVersion;
    j["tool_version"] = s.toolVersion;
    j["device_version"] = s.deviceVersion;
    j["description"] = s.description;
    j["created"] = s.created;
    j["anchor"] = s.anchorPosition
                      ? nlohmann::json{{"position", *s.anchorPosition}, {"description", s.anchorDescription}}
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
            Error(DamageText(s.path, s.beingRecorded));
            status = kFailed;
        } else if (!s.readError.empty()) {
            Error(path + ": record at offset " + std::to_string(s.readEnd) + " cannot be read: " + s.readError);
            status = kFailed;
        }
    }
    if (json) std::printf("%s\n", nlohmann::json{{"files", all}}.dump(2).c_str());
    return status;
}

namespace {
struct MessagesOptions {
    std::string file;
    std::optional<uint64_t> from, to;
    bool json = false;
};

// One record's line, or its JSON object (streamed: memory stays flat whatever the size).
void PrintMessage(const CVESKMessage& m, uint64_t offset, bool json, bool& firstJson)
{
    const std::string time = TimeText(m.GetPCTimeStamp());
    if (!json) {
        std::printf("%10llu  %12llu  %-23s  %6d  %4d  %5u  %6d\n", static_cast<unsigned long long>(offset),
                    static_cast<unsigned long long>(m.GetMessageIndex()), time.c_str(), m.GetDeviceNumber(),
                    m.GetKind(), m.GetMessageType(), m.GetDataLength());
        return;
    }
    const nlohmann::json j{{"offset", offset},
                           {"index", m.GetMessageIndex()},
                           {"pc_time", time},
                           {"device", m.GetDeviceNumber()},
                           {"kind", m.GetKind()},
                           {"message_type", m.GetMessageType()},
                           {"data_length", m.GetDataLength()}};
    std::printf("%s\n    %s", firstJson ? "" : ",", j.dump().c_str());
    firstJson = false;
}
}  // namespace

int CmdMessages(const MessagesOptions& o)
{
    CLogFile file;
    std::string error;
    if (!OpenForReading(o.file, file, error)) {
        Error(error);
        return kFailed;
    }
    if (file.GetLength() < CLogFile::kFirstRecord) {
        Error(o.file + ": not a log file (too short for a header position)");
        return kFailed;
    }
    if (o.json) {
        std::printf("{\"file\": %s, \"messages\": [", nlohmann::json(AnsiToUtf8(o.file)).dump().c_str());
    } else {
        std::printf("%10s  %12s  %-23s  %6s  %4s  %5s  %6s\n", "offset", "index", "PC time", "device", "kind", "type",
                    "length");
    }
    int status = kOk;
    bool firstJson = true;
    const DWORD end = file.GetHeaderPosition();
    uint64_t offset = CLogFile::kFirstRecord;
    try {
        CVESKMessage m;
        while ((offset = file.GetPosition()) < end) {
            ReadCheckedLogRecord(file, m, end);
            const uint64_t index = m.GetMessageIndex();
            if ((o.from && index < *o.from) || (o.to && index > *o.to)) continue;
            PrintMessage(m, offset, o.json, firstJson);
        }
    } catch (const CException& e) {
        error = o.file + ": record at offset " + std::to_string(offset) + " cannot be read: " + Reason(e, o.file);
        status = kFailed;
    }
    if (o.json) std::printf("\n]}\n");
    if (!error.empty()) Error(error);
    if (file.NeedsRepair()) {
        Error(DamageText(o.file, file.IsBeingRecorded()) + " (records listed as far as a repair would keep them)");
        status = kFailed;
    }
    file.Close();
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

    auto msg = std::make_shared<MessagesOptions>();
    auto* c = app.add_subcommand("messages", "List the records of a log file (never changes it)");
    c->add_option("FILE", msg->file, "Log file")->required();
    c->add_option("--from", msg->from, "First message index")->check(WholeNumber(0, UINT64_MAX));
    c->add_option("--to", msg->to, "Last message index")->check(WholeNumber(0, UINT64_MAX));
    c->add_flag("--json", msg->json, "One JSON document, streamed");
    out.push_back({c, [msg] { return CmdMessages(*msg); }});
}

}  // namespace vkl
