// vkl import-sd, vkl sd-info: SD-card dumps into log files through the library's
// import, and what a dump holds.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

#include "convert/DiagLogHeaderReader.h"
#include "convert/LogFileConverter.h"
#include "convert/SdImportTexts.h"
#include "convert/SdLog.h"
#include "framework/Archive.h"
#include "framework/MessageBox.h"
#include "platform/Clock.h"
#include "tools/vkl/Commands.h"
#include "tools/vkl/Dialogs.h"
#include "tools/vkl/Files.h"
#include "tools/vkl/Host.h"
#include "tools/vkl/SdImport.h"

namespace vkl {
namespace {

constexpr int kSkipped = 3;  // converted, but stretches were skipped or a batch file failed

struct ImportSdOptions {
    std::vector<std::string> files;
    std::string output;
    std::string dir = ".";
    bool batch = false;
};

// A dump read through a read-only view: its header, its packet index and stretches.
struct DumpView {
    CFile file;
    uint64_t length = 0;
    std::array<DWORD, 7> words{};
    std::vector<uint32_t> offsets;
    std::vector<SdLog::Stretch> stretches;
    std::map<unsigned, uint64_t> protocols;  // packets by protocol, read in plain sequence

    bool Open(const std::string& path) { return file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone); }
    // Indexes the dump, or, with `index` given, takes that index (the import's own).
    void Read(const std::vector<uint32_t>* index)
    {
        length = file.GetLength();
        const SdLog::CFileView view(file, std::min<uint64_t>(length, SdLog::kMaxSdLength));
        const BYTE* data = view.Data();
        for (size_t i = 0; i < words.size() && (i + 1) * 4 <= view.Size(); ++i)
            words[i] = LoadLittleEndian<uint32_t>(data + i * 4);
        if (index)
            offsets = *index;
        else
            SdLog::BuildPacketIndex(data, view.Size(), SdLog::IndexLimits{}, offsets);
        stretches = SdLog::SkippedStretches(data, view.Size(), offsets);
        for (uint64_t p = SdLog::kFirstPacket; p + SdLog::kPacketHeaderSize <= view.Size();) {
            const uint32_t l = LoadLittleEndian<uint16_t>(data + p);
            ++protocols[LoadLittleEndian<uint16_t>(data + p + 2)];
            if (l < SdLog::kPacketHeaderSize) break;
            p += l;
        }
    }
    int64_t StartTime() const { return int64_t{words[5]} + SdLog::kStartTimeShift; }
};

std::string TimeText(const CSystemTime& t)
{
    return FormatTime(t, "%Y-%m-%d %H:%M:%S.%L").str();
}

std::string StretchLines(const std::vector<SdLog::Stretch>& stretches)
{
    std::string lines;
    for (const auto& s : stretches)
        lines += "  skipped offset " + std::to_string(s.offset) + ", " + std::to_string(s.length) + " bytes\n";
    return lines;
}

}  // namespace

// Records the texts of the library's message boxes while it lives; passes them on to the
// host's handler, or, when `show` is false, answers them with the default unseen.
class BoxRecorder {
public:
    explicit BoxRecorder(bool show)
    {
        m_previous = SetMessageBoxHandler([this, show](const MessageBoxRequest& r) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_texts.push_back(r.text.str());
            }
            return show && m_previous ? m_previous(r) : DefaultMessageBoxAnswer(r.type);
        });
    }
    ~BoxRecorder() { SetMessageBoxHandler(m_previous); }
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;
    std::vector<std::string> Texts()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_texts;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_texts;
    MessageBoxHandler m_previous;
};

int ImportSdLog(const std::string& file, const std::string& out, std::string& summaryText, bool showBoxes)
{
    if (const std::string bad = CheckInputFile(file); !bad.empty()) {
        Error(bad);
        return kFailed;
    }
    if (const std::string refusal = PrepareOutput(out, /*force=*/false); !refusal.empty()) {
        Error(refusal);
        return kFailed;
    }
    BoxRecorder boxes(showBoxes);
    ScopedDialogRunner runner(DialogAnswers{});
    SdImportSummary summary;
    std::vector<uint32_t> index;
    bool ok = false;
    {
        CLogFileConverter conv(nullptr);
        if (!conv.ConvertSDLogToVkl(file.c_str(), out.c_str())) return kFailed;
        while (conv.IsConverting() && !Interrupted()) runner->Pump(100);
        if (!Interrupted()) {
            summary = conv.GetState().m_sdSummary;
            index = conv.m_packetOffsets;
            ok = conv.m_bSdImportOk != 0;
        }
    }  // Ctrl-C: the converter stops its worker, which writes what it has read
    if (Interrupted()) {
        Error(file + ": stopped; what was read is in " + out);
        return kInterrupted;
    }
    const std::vector<std::string> said = boxes.Texts();
    if (!ok) return kFailed;
    DumpView dump;
    if (dump.Open(file)) dump.Read(&index);
    summaryText = file + " -> " + (summary.packets ? out : "(no packets: no log)") + ": " +
                  std::to_string(summary.packets) + " packets converted, " + std::to_string(dump.stretches.size()) +
                  " stretches skipped\n" + StretchLines(dump.stretches);
    if (summary.bHaveTimes)
        summaryText += "  first " + TimeText(summary.first) + ", last " + TimeText(summary.last) + "\n";
    if (summary.bOutputFull) Error(out + ": the log reached 4 GiB; the rest of the dump was not converted");
    if (said != std::vector<std::string>{"Conversion Succeeded!"}) return kFailed;
    return dump.stretches.empty() && !summary.bOutputFull ? kOk : kSkipped;
}

namespace {

int CmdImportBatch(const ImportSdOptions& o)
{
    ScopedDialogRunner runner(DialogAnswers{});
    std::list<CString> inputs(o.files.begin(), o.files.end()), kept;
    CLogFileConverter conv(nullptr);
    conv.ConvertSDLogsToVkl(inputs, kept, nullptr);
    for (const CString& path : kept) Say(CFile::OsPath(path));
    if (Interrupted()) return kInterrupted;
    return kept.size() == inputs.size() ? kOk : kSkipped;
}

int CmdImportSd(const ImportSdOptions& o)
{
    if (!o.output.empty() && (o.files.size() > 1 || o.batch)) {
        Error(o.batch ? "--batch writes into the Temp folder of the home directory: no -o"
                      : "-o names one output: give one SD");
        return kUsage;
    }
    InstallInterruptHandler();
    if (o.batch) return CmdImportBatch(o);
    if (o.output.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(o.dir, ec);
    }
    int worst = kOk;
    for (const std::string& file : o.files) {
        const std::string out =
            !o.output.empty() ? o.output
                              : (std::filesystem::path(o.dir) / std::filesystem::path(file).stem()).string() + ".vkl";
        std::string summary;
        const int status = ImportSdLog(file, out, summary, /*showBoxes=*/true);
        if (!summary.empty() && !Options().quiet) std::fputs(summary.c_str(), stdout);
        if (status == kInterrupted) return status;
        worst = std::max(worst, status);
    }
    return worst;
}

int CmdSdInfo(const std::string& file, bool json)
{
    if (const std::string bad = CheckInputFile(file); !bad.empty()) {
        Error(bad);
        return kFailed;
    }
    DumpView dump;
    if (!dump.Open(file)) {
        Error(file + ": cannot be opened for reading");
        return kFailed;
    }
    dump.Read(nullptr);
    const std::string start = TimeText(UtcFromEpochSeconds(dump.StartTime()));
    if (json) {
        nlohmann::json j{{"file", file},
                         {"length", dump.length},
                         {"words", dump.words},
                         {"start_time", start},
                         {"packets", dump.offsets.size()}};
        j["stretches"] = nlohmann::json::array();
        for (const auto& s : dump.stretches) j["stretches"].push_back({{"offset", s.offset}, {"length", s.length}});
        for (const auto& [protocol, count] : dump.protocols)
            j["protocols_in_sequence"][std::to_string(protocol)] = count;
        std::printf("%s\n", j.dump(2).c_str());
        return kOk;
    }
    std::printf("%s: %llu bytes\n", file.c_str(), static_cast<unsigned long long>(dump.length));
    for (size_t i = 0; i < dump.words.size(); ++i) std::printf("  W%zu %u\n", i + 1, dump.words[i]);
    std::printf("  start time %s\n  packets %zu\n  stretches skipped %zu\n", start.c_str(), dump.offsets.size(),
                dump.stretches.size());
    for (const auto& s : dump.stretches)
        std::printf("    offset %llu, %llu bytes\n", static_cast<unsigned long long>(s.offset),
                    static_cast<unsigned long long>(s.length));
    for (const auto& [protocol, count] : dump.protocols)
        std::printf("  protocol %u: %llu packets read in plain sequence (as --batch reads)\n", protocol,
                    static_cast<unsigned long long>(count));
    return kOk;
}

}  // namespace

void AddSdCommands(CLI::App& app, CommandList& out)
{
    auto o = std::make_shared<ImportSdOptions>();
    auto* c = app.add_subcommand("import-sd", "Import SD-card logs into log files");
    c->add_option("SD", o->files, "SD-card logs")->required();
    c->add_option("-o,--output", o->output, "Output log (one SD; default: DIR/<name>.vkl)");
    c->add_option("--dir", o->dir, "Directory for the outputs")->capture_default_str();
    c->add_flag("--batch", o->batch, "The library's batch: plain sequential reading into HOME/Temp, no time stamps");
    out.push_back({c, [o] { return CmdImportSd(*o); }});

    auto file = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    auto* i = app.add_subcommand("sd-info", "Show what an SD-card log holds (reads only)");
    i->add_option("SD", *file, "SD-card log")->required();
    i->add_flag("--json", *json, "One JSON document");
    out.push_back({i, [file, json] { return CmdSdInfo(*file, *json); }});
}

}  // namespace vkl
