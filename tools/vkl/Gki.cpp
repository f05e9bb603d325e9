// vkl gki-records: the records of a GKI log, one line each. Reads only.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "convert/GKIRec.h"
#include "framework/Archive.h"
#include "framework/File.h"
#include "platform/Recoder.h"
#include "platform/Services.h"
#include "tools/vkl/Commands.h"
#include "tools/vkl/GkiConvert.h"
#include "tools/vkl/Host.h"

namespace vkl {
namespace {

struct GkiRecordsOptions {
    std::string file;
    std::optional<uint64_t> from, to;  // record numbers, from 1 in file order
    bool json = false;
};

// The fields of a record, whatever its kind; those a kind does not have stay empty.
struct RecordFields {
    std::optional<uint32_t> field1, field2, logWord1, logWord2, bodyLength;
    const BYTE* body = nullptr;
};

RecordFields FieldsOf(const CGKIRec& r)
{
    RecordFields f;
    if (r.m_nTypeCode == CGKIRec::kSignalCode) {
        const auto& s = static_cast<const CGKISignalRec&>(r);
        f = {s.m_nHeaderField1, s.m_nHeaderField2, std::nullopt, std::nullopt, s.m_wBodyLength, s.m_pBody.get()};
    } else if (r.m_nTypeCode == CGKIRec::kLoggedSignalCode) {
        const auto& s = static_cast<const CGKILoggedSignalRec&>(r);
        f = {s.m_nHeaderField1, s.m_nHeaderField2, s.m_nLogWord1, s.m_nLogWord2, s.m_wBodyLength, s.m_pBody.get()};
    }
    return f;
}

std::string Hex32(const std::optional<uint32_t>& v)
{
    if (!v) return "-";
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", *v);
    return buf;
}

// The signal name the Recoder knows for an identifier (or its alternative name).
std::string SignalName(CConverter& recoder, const CGKIRec& r)
{
    CString name;
    if (r.m_nTypeCode == CGKIRec::kCommandCode) return {};
    if (recoder.GetSignalName(r.m_nId, name) || recoder.GetAltSignalName(r.m_nId, name)) return name.str();
    return {};
}

void PrintRecord(CConverter& recoder, uint64_t number, uint64_t offset, const CGKIRec& r, nlohmann::json* list)
{
    const RecordFields f = FieldsOf(r);
    CString body;
    if (f.body && f.bodyLength) recoder.FormatRawData(f.body, static_cast<int>(*f.bodyLength), body);
    const std::string name = SignalName(recoder, r);
    if (list) {
        auto opt = [](const std::optional<uint32_t>& v) { return v ? nlohmann::json(*v) : nlohmann::json(nullptr); };
        list->push_back({{"number", number},
                         {"offset", offset},
                         {"type", std::string(1, static_cast<char>(r.m_nTypeCode))},
                         {"type_code", r.m_nTypeCode},
                         {"length", r.m_wLength},
                         {"header_field1", opt(f.field1)},
                         {"header_field2", opt(f.field2)},
                         {"log_word1", opt(f.logWord1)},
                         {"log_word2", opt(f.logWord2)},
                         {"body_length", opt(f.bodyLength)},
                         {"id", r.m_nId},
                         {"signal", name.empty() ? nlohmann::json(nullptr) : nlohmann::json(name)},
                         {"body", f.bodyLength ? nlohmann::json(body.str()) : nlohmann::json(nullptr)}});
        return;
    }
    std::string tail = name.empty() ? "" : " " + name;
    if (!body.IsEmpty()) tail += "  " + body.str();
    std::printf("%10llu  %c     %6u  %10s  %10s  %10s  %10s  %5s  0x%08X%s\n", static_cast<unsigned long long>(offset),
                static_cast<char>(r.m_nTypeCode), r.m_wLength, Hex32(f.field1).c_str(), Hex32(f.field2).c_str(),
                Hex32(f.logWord1).c_str(), Hex32(f.logWord2).c_str(),
                f.bodyLength ? std::to_string(*f.bodyLength).c_str() : "-", r.m_nId, tail.c_str());
}

// Reads one record at the file position; null with `problem` set when it cannot be read.
std::unique_ptr<CGKIRec> ReadRecord(CFile& file, std::string& problem)
{
    CArchive ar(&file, CArchive::load);
    try {
        int32_t code = 0;
        ar >> code;
        std::unique_ptr<CGKIRec> record = CGKIRec::Create(code);
        if (!record) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "unknown record type code 0x%08X", static_cast<uint32_t>(code));
            problem = buf;
            return nullptr;
        }
        record->Serialize(ar);
        ar.Close();
        return record;
    } catch (const CArchiveException&) {
        problem = "the record is cut short by the end of the file";
    }
    return nullptr;
}

int CmdGkiRecords(const GkiRecordsOptions& o)
{
    CFile file;
    CFileException e;
    if (!file.Open(o.file.c_str(), CFile::modeRead | CFile::shareDenyNone, &e)) {
        Error(o.file + ": cannot open: " + (e.m_lOsError ? std::strerror(e.m_lOsError) : "unknown error"));
        return kFailed;
    }
    const std::shared_ptr<CConverter> recoder = Services::Recoder();
    nlohmann::json list = nlohmann::json::array();
    if (!o.json)
        std::printf("%10s  %-4s  %6s  %10s  %10s  %10s  %10s  %5s  %s\n", "offset", "type", "length", "field1",
                    "field2", "logword1", "logword2", "body", "identifier");
    const uint64_t end = file.GetLength();
    uint64_t number = 0;
    std::optional<uint64_t> badOffset;
    std::string problem;
    while (file.GetPosition() < end && !(o.to && number >= *o.to)) {
        const uint64_t offset = file.GetPosition();
        const std::unique_ptr<CGKIRec> record = ReadRecord(file, problem);
        if (!record) {
            badOffset = offset;
            break;
        }
        if (++number >= o.from.value_or(0)) PrintRecord(*recoder, number, offset, *record, o.json ? &list : nullptr);
    }
    file.Close();
    if (o.json) {
        nlohmann::json doc = {{"file", o.file}, {"records", list}, {"error", nullptr}};
        if (badOffset) doc["error"] = {{"offset", *badOffset}, {"problem", problem}};
        std::printf("%s\n", doc.dump(2).c_str());
    }
    if (!badOffset) return kOk;
    Error(o.file + ": record at offset " + std::to_string(*badOffset) + ": " + problem);
    return kFailed;
}

}  // namespace

void AddGkiCommands(CLI::App& app, CommandList& out)
{
    auto o = std::make_shared<GkiRecordsOptions>();
    auto* c = app.add_subcommand("gki-records", "List the records of a GKI log (never changes it)");
    c->add_option("FILE", o->file, "GKI log")->required();
    c->add_option("--from", o->from, "First record number (records count from 1)");
    c->add_option("--to", o->to, "Last record number");
    c->add_flag("--json", o->json, "One JSON document");
    out.push_back({c, [o] { return CmdGkiRecords(*o); }});
    AddGkiConvertCommands(app, out);
}

}  // namespace vkl
