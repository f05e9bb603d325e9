#include "platform/SignalDb.h"

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "platform/Services.h"

using nlohmann::json;

CString CEnum::NameOf(int64_t value) const
{
    for (const auto& [name, v] : m_values)
        if (v == value) return name;
    return CString();
}

CString CEnum::NameOfRaw(uint32_t raw) const
{
    CString name = NameOf(raw);
    if (name.IsEmpty() && m_nSize < 4) {
        const int shift = 32 - 8 * m_nSize;
        name = NameOf(static_cast<int32_t>(raw << shift) >> shift);
    } else if (name.IsEmpty()) {
        name = NameOf(static_cast<int32_t>(raw));
    }
    return name;
}

// Builds a database from its JSON description; every problem is reported with the
// place it was found at.
class CSignalDbLoader {
public:
    // Limits of a description: how deep structures nest, and the largest array count and
    // union size (they bound the descriptors and bodies a hostile description can ask for).
    static constexpr int kMaxNesting = 16;
    static constexpr int64_t kMaxArrayCount = 4096;
    static constexpr int64_t kMaxUnionSize = 4096;

    CSignalDbLoader(CSvmDb& db, CString file) : m_db(db), m_file(std::move(file)) {}

    void Load(const json& root)
    {
        if (!root.is_object()) Fail("/", "the description must be a JSON object");
        if (root.contains("layout")) LoadLayout(root["layout"]);
        if (root.contains("enums")) {
            const json& enums = Array(root["enums"], "/enums");
            for (size_t i = 0; i < enums.size(); ++i) LoadEnum(enums[i], "/enums/" + std::to_string(i));
        }
        if (root.contains("structs")) {
            const json& structs = Array(root["structs"], "/structs");
            for (size_t i = 0; i < structs.size(); ++i) {
                const std::string place = "/structs/" + std::to_string(i);
                const CString name = String(structs[i], "name", place);
                if (m_structs.count(name)) Fail(place, "struct '" + name + "' is defined twice");
                m_structs[name] = &structs[i];
            }
        }
        const json& signals = Array(Member(root, "signals", "/"), "/signals");
        for (size_t i = 0; i < signals.size(); ++i) LoadSignal(signals[i], "/signals/" + std::to_string(i));
        if (root.contains("traces")) LoadTraces(root["traces"]);
        if (root.contains("colors")) LoadColors(root["colors"]);
        m_db.m_evInited.SetEvent();
    }

private:
    [[noreturn]] void Fail(const std::string& place, const std::string& problem) const
    {
        throw CSignalDbException(m_file, place.c_str(), problem.c_str());
    }
    [[noreturn]] void Fail(const std::string& place, const CString& problem) const { Fail(place, problem.str()); }
    [[noreturn]] void Fail(const std::string& place, const char* problem) const { Fail(place, std::string(problem)); }
    const json& Member(const json& obj, const char* key, const std::string& place) const
    {
        if (!obj.is_object()) Fail(place, "expected an object");
        auto it = obj.find(key);
        if (it == obj.end()) Fail(place, std::string("missing \"") + key + "\"");
        return *it;
    }
    const json& Array(const json& j, const std::string& place) const
    {
        if (!j.is_array()) Fail(place, "expected an array");
        return j;
    }
    CString String(const json& obj, const char* key, const std::string& place) const
    {
        const json& v = Member(obj, key, place);
        if (!v.is_string()) Fail(place + "/" + key, "expected a string");
        if (v.get<std::string>().empty()) Fail(place + "/" + key, "must not be empty");
        return CString(v.get<std::string>());
    }
    int64_t Integer(const json& obj, const char* key, const std::string& place) const
    {
        const json& v = Member(obj, key, place);
        if (!v.is_number_integer()) Fail(place + "/" + key, "expected an integer");
        return v.get<int64_t>();
    }
    // Every field passes here before it makes descriptors, so the budget bounds them all.
    void Budget(const std::string& place) const
    {
        if (m_db.m_objects.size() >= CSvmDb::kMaxDescriptors)
            Fail(place, "the description needs more than " + std::to_string(CSvmDb::kMaxDescriptors) + " descriptors");
    }
    template <typename T>
    T* Make()
    {
        auto p = std::make_unique<T>();
        T* raw = p.get();
        m_db.m_objects.push_back(std::move(p));
        return raw;
    }

    void LoadLayout(const json& l)
    {
        const std::string place = "/layout";
        auto get = [&](const char* key, std::initializer_list<int> allowed, int& out) {
            if (!l.contains(key)) return;
            const int64_t v = Integer(l, key, place);
            for (int a : allowed)
                if (v == a) {
                    out = a;
                    return;
                }
            std::string list;
            for (int a : allowed) list += (list.empty() ? "" : ", ") + std::to_string(a);
            Fail(place + "/" + key, "must be one of " + list + ", not " + std::to_string(v));
        };
        get("header_field_size", {1, 2, 4}, m_db.m_nHeaderFieldSize);
        get("signal_id_size", {2, 4}, m_db.m_nSignalIdSize);
        get("alignment_mode", {0, 1, 2}, m_db.m_nAlignmentMode);
        get("layout_shift", {0, 1, 2, 3}, m_db.m_nLayoutShift);
    }

    void LoadEnum(const json& e, const std::string& place)
    {
        auto* en = Make<CEnum>();
        en->m_strName = String(e, "name", place);
        const int64_t size = Integer(e, "size", place);
        if (size != 1 && size != 2 && size != 4) Fail(place + "/size", "an enumeration is 1, 2 or 4 bytes, not " + std::to_string(size));
        en->m_nSize = static_cast<int>(size);
        const json& values = Member(e, "values", place);
        if (!values.is_object()) Fail(place + "/values", "expected an object of name: value");
        for (auto it = values.begin(); it != values.end(); ++it) {
            if (!it.value().is_number_integer()) Fail(place + "/values/" + it.key(), "expected an integer");
            const int64_t v = it.value().get<int64_t>();
            const int64_t max = size == 4 ? 0xFFFFFFFFll : (1ll << (8 * size)) - 1;
            if (v < -(max / 2 + 1) || v > max) Fail(place + "/values/" + it.key(), "value does not fit in " + std::to_string(size) + " bytes");
            en->m_values.emplace_back(CString(it.key()), v);
        }
        if (m_db.m_enumMaps[0].count(en->m_strName)) Fail(place, "enumeration '" + en->m_strName.str() + "' is defined twice");
        for (auto& map : m_db.m_enumMaps) map[en->m_strName] = en;
    }

    CSvmObject* LoadField(const json& f, const std::string& place, int depth)
    {
        if (depth > kMaxNesting) Fail(place, "structures nested more than " + std::to_string(kMaxNesting) + " deep");
        Budget(place);
        if (!f.is_object()) Fail(place, "a field must be an object");
        const CString name = String(f, "name", place);
        const int kinds = f.contains("type") + f.contains("enum") + f.contains("array") + f.contains("union") + f.contains("struct");
        if (kinds != 1) Fail(place, "field '" + name.str() + "' needs exactly one of type, enum, array, union, struct");
        if (f.contains("type")) return LoadBasicField(f, name, place);
        if (f.contains("enum")) return LoadEnumField(f, name, place);
        if (f.contains("array")) return LoadArrayField(f["array"], name, place + "/array", depth);
        if (f.contains("union")) return LoadUnionField(f["union"], name, place + "/union");
        CSvmNode* node = LoadStruct(f["struct"], place + "/struct", depth);
        node->m_strName = name;
        return node;
    }

    CSvmObject* LoadBasicField(const json& f, const CString& name, const std::string& place)
    {
        const CString type = String(f, "type", place);
        if (!CSvmDb::IsBasicTypeName(type)) Fail(place + "/type", "unknown type name '" + type.str() + "'");
        return MakeParms(name, type);
    }

    CSvmObject* LoadEnumField(const json& f, const CString& name, const std::string& place)
    {
        const CString en = String(f, "enum", place);
        CEnum* e = m_db.FindEnumByName(en);
        if (!e) Fail(place + "/enum", "unknown enumeration '" + en.str() + "'");
        auto* p = Make<CEnumParm>();
        p->m_strName = name;
        p->m_pEnum = e;
        p->m_nRecordedSize = e->m_nSize;
        return p;
    }

    CSvmObject* LoadArrayField(const json& a, const CString& name, const std::string& ap, int depth)
    {
        const int64_t count = Integer(a, "count", ap);
        if (count < 0 || count > kMaxArrayCount)
            Fail(ap + "/count", "an array holds 0 to " + std::to_string(kMaxArrayCount) + " elements, not " + std::to_string(count));
        auto* arr = Make<CParamArray>();
        arr->m_strName = name;
        arr->m_nCount = static_cast<int>(count);
        if (a.contains("type")) {
            arr->m_nKind = CParamArray::kBasic;
            arr->m_strElemTypeName = String(a, "type", ap);
            if (!CSvmDb::IsBasicTypeName(arr->m_strElemTypeName)) Fail(ap + "/type", "unknown type name '" + arr->m_strElemTypeName.str() + "'");
        } else if (a.contains("struct")) {
            arr->m_nKind = CParamArray::kStructured;
            for (int64_t i = 0; i < count; ++i) {
                CSvmNode* element = LoadStruct(a["struct"], ap + "/struct", depth);
                element->m_strName = name + "[" + CString(std::to_string(i)) + "]";
                arr->m_elements.push_back(element);
            }
        } else {
            Fail(ap, "an array needs a \"type\" or a \"struct\"");
        }
        return arr;
    }

    CUnionVar* LoadUnionMember(const json& m, const std::string& mp)
    {
        auto* var = Make<CUnionVar>();
        var->m_strName = String(m, "name", mp);
        if (m.contains("enum")) {
            var->m_nKind = CUnionVar::kEnum;
            var->m_strTypeName = String(m, "enum", mp);
            if (!m_db.FindEnumByName(var->m_strTypeName)) Fail(mp + "/enum", "unknown enumeration '" + var->m_strTypeName.str() + "'");
        } else {
            var->m_nKind = CUnionVar::kBasic;
            var->m_strTypeName = String(m, "type", mp);
            if (!CSvmDb::IsBasicTypeName(var->m_strTypeName)) Fail(mp + "/type", "unknown type name '" + var->m_strTypeName.str() + "'");
        }
        return var;
    }

    CSvmObject* LoadUnionField(const json& u, const CString& name, const std::string& up)
    {
        auto* un = Make<CUnion>();
        un->m_strName = name;
        const int64_t size = Integer(u, "size", up);
        if (size < 1 || size > kMaxUnionSize) Fail(up + "/size", "a union is 1 to " + std::to_string(kMaxUnionSize) + " bytes");
        un->m_nSize = static_cast<int>(size);
        const json& members = Array(Member(u, "members", up), up + "/members");
        if (members.empty()) Fail(up + "/members", "a union needs at least one member");
        for (size_t i = 0; i < members.size(); ++i) un->m_members.push_back(LoadUnionMember(members[i], up + "/members/" + std::to_string(i)));
        const int64_t designated = u.contains("designated") ? Integer(u, "designated", up) : 0;
        if (designated < 0 || designated >= static_cast<int64_t>(members.size()))
            Fail(up + "/designated", "no member " + std::to_string(designated));
        un->m_pDesignated = un->m_members[static_cast<size_t>(designated)];
        const auto* var = static_cast<const CUnionVar*>(un->m_pDesignated);
        const int width = var->m_nKind == CUnionVar::kEnum ? m_db.FindEnumByName(var->m_strTypeName)->m_nSize
                                                           : CSvmDb::BasicWidth(var->m_strTypeName);
        if (size < width)
            Fail(up + "/size", "a union of " + std::to_string(size) + " bytes cannot hold its designated member '" +
                                   var->m_strName.str() + "' of " + std::to_string(width) + " bytes");
        for (auto& map : m_db.m_unionMaps) map[name] = un;
        return un;
    }

    // A nested structure: inline, or by the name of one in "structs".
    CSvmNode* LoadStruct(const json& s, const std::string& place, int depth)
    {
        Budget(place);
        if (!s.is_string()) return LoadNode(s, place, depth + 1);
        auto it = m_structs.find(CString(s.get<std::string>()));
        if (it == m_structs.end()) Fail(place, "unknown struct '" + s.get<std::string>() + "'");
        return LoadNode(*it->second, "struct '" + s.get<std::string>() + "'", depth + 1);
    }

    CParms* MakeParms(const CString& name, const CString& type)
    {
        auto p = std::make_unique<CParms>(name, type, "", "");
        CParms* raw = p.get();
        m_db.m_objects.push_back(std::move(p));
        return raw;
    }

    CSvmNode* LoadNode(const json& s, const std::string& place, int depth)
    {
        if (!s.is_object()) Fail(place, "a structure must be an object");
        auto* node = Make<CSvmNode>();
        if (s.contains("alignment")) {
            const int64_t a = Integer(s, "alignment", place);
            if (a != 1 && a != 2 && a != 4 && a != 8) Fail(place + "/alignment", "alignment is 1, 2, 4 or 8");
            node->m_nAlignment = static_cast<int>(a);
        }
        const json& fields = Array(Member(s, "fields", place), place + "/fields");
        std::set<std::string> names;
        for (size_t i = 0; i < fields.size(); ++i) {
            const std::string fp = place + "/fields/" + std::to_string(i);
            CSvmObject* field = LoadField(fields[i], fp, depth);
            if (!names.insert(field->m_strName.str()).second) Fail(fp, "field '" + field->m_strName.str() + "' appears twice");
            node->m_fields.push_back(field);
        }
        return node;
    }

    void LoadSignal(const json& s, const std::string& place)
    {
        SignalInfo info;
        const int64_t id = Integer(s, "id", place);
        const int64_t maxId = m_db.m_nSignalIdSize == 2 ? 0xFFFF : 0xFFFFFFFFll;
        if (id < 0 || id > maxId) Fail(place + "/id", "identifier " + std::to_string(id) + " does not fit the signal id size");
        info.id = static_cast<uint32_t>(id);
        info.name = String(s, "name", place);
        if (s.contains("alt_name")) info.altName = String(s, "alt_name", place);
        if (m_db.m_byId.count(info.id)) Fail(place + "/id", "identifier " + std::to_string(id) + " is used twice");
        if (m_db.m_byName.count(info.name)) Fail(place + "/name", "signal name '" + info.name.str() + "' is used twice");
        if (!info.altName.IsEmpty() && (m_db.m_byName.count(info.altName) || info.altName == info.name))
            Fail(place + "/alt_name", "signal name '" + info.altName.str() + "' is used twice");
        info.body = LoadNode(s, place, 0);
        // Bodies travel with 16-bit lengths (signal header, GKI records).
        const int64_t size = m_db.BodySize(*info.body);
        if (size > kMaxBody)
            Fail(place + "/fields", "the body of '" + info.name.str() + "' needs " + std::to_string(size) +
                                        " bytes natively; at most " + std::to_string(kMaxBody) + " fit");
        info.body->m_strName = info.name;
        const size_t index = m_db.m_signals.size();
        m_db.m_signals.push_back(info);
        m_db.m_byId[info.id] = index;
        m_db.m_byName[info.name] = index;
        if (!info.altName.IsEmpty()) m_db.m_byName.emplace(info.altName, index);
        for (auto& map : m_db.m_strMaps) map[info.name] = info.body;
    }

    void LoadTraces(const json& t)
    {
        const char* sides[2] = {"com", "app"};
        for (int side = 0; side < 2; ++side) {
            if (!t.contains(sides[side])) continue;
            const std::string place = std::string("/traces/") + sides[side];
            const json& s = t[sides[side]];
            const int64_t maxId = Integer(s, "max_id", place);
            if (maxId < 0 || maxId > 0xFFFF) Fail(place + "/max_id", "a trace identifier is 0 to 65535");
            m_db.m_maxTraceId[side] = static_cast<int>(maxId);
            const json& names = Array(Member(s, "names", place), place + "/names");
            for (size_t i = 0; i < names.size(); ++i) {
                const std::string np = place + "/names/" + std::to_string(i);
                const int64_t group = Integer(names[i], "group", np);
                const int64_t id = Integer(names[i], "id", np);
                if (group < 0 || group > 0xFFFF) Fail(np + "/group", "a trace group is 0 to 65535");
                if (id < 0 || id > maxId) Fail(np + "/id", "identifier above max_id " + std::to_string(maxId));
                auto key = std::make_pair(static_cast<int>(group), static_cast<int>(id));
                if (m_db.m_traces[side].count(key)) Fail(np, "trace (group, id) defined twice");
                m_db.m_traces[side][key] = String(names[i], "name", np);
            }
        }
    }

    void LoadColors(const json& c)
    {
        const json& list = Array(c, "/colors");
        for (size_t i = 0; i < list.size(); ++i) {
            const std::string place = "/colors/" + std::to_string(i);
            const int kind = list[i].contains("kind") ? static_cast<int>(Integer(list[i], "kind", place)) : -1;
            const int type = list[i].contains("message_type") ? static_cast<int>(Integer(list[i], "message_type", place)) : -1;
            const CString rgb = String(list[i], "color", place);
            unsigned r = 0, g = 0, b = 0;
            if (rgb.GetLength() != 7 || rgb.GetAt(0) != '#' || std::sscanf(rgb.c_str() + 1, "%2x%2x%2x", &r, &g, &b) != 3)
                Fail(place + "/color", "expected a colour as #RRGGBB, not '" + rgb.str() + "'");
            m_db.m_colors[{kind, type}] = (b << 16) | (g << 8) | r;
        }
    }

    static constexpr int64_t kMaxBody = 0xFFFF;
    CSvmDb& m_db;
    CString m_file;
    std::map<CString, const json*> m_structs;
};

CSvmDb::CSvmDb() = default;
CSvmDb::~CSvmDb() = default;

std::shared_ptr<CSvmDb> CSvmDb::LoadFromText(const std::string& text, const CString& nameForMessages)
{
    json root;
    try {
        root = json::parse(text);
    } catch (const json::parse_error& e) {
        // Line and column of the byte where parsing stopped.
        size_t line = 1, column = 1;
        for (size_t i = 0; i + 1 < e.byte && i < text.size(); ++i) {
            if (text[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        CString place;
        place.Format("line %zu, column %zu", line, column);
        // nlohmann's text: "[json.exception...] parse error at line L, column C: <why>".
        std::string why = e.what();
        const size_t at = why.find("column ");
        const size_t cut = at == std::string::npos ? std::string::npos : why.find(": ", at);
        if (cut != std::string::npos) why = why.substr(cut + 2);
        throw CSignalDbException(nameForMessages, place, ("not valid JSON: " + why).c_str());
    }
    auto db = std::make_shared<CSvmDb>();
    CSignalDbLoader(*db, nameForMessages).Load(root);
    return db;
}

std::shared_ptr<CSvmDb> CSvmDb::LoadFromFile(const CString& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in) throw CSignalDbException(path, "file", "cannot be read");
    std::stringstream text;
    text << in.rdbuf();
    return LoadFromText(text.str(), path);
}

std::shared_ptr<CSvmDb> CSvmDb::LoadOrEmpty(const CString& path)
{
    CString problem;
    try {
        return LoadFromFile(path);
    } catch (const CException& e) {
        problem = e.GetErrorMessage();
    } catch (const std::exception& e) {
        problem = path + ": " + e.what();
    } catch (...) {
        problem = path + ": cannot be loaded";
    }
    std::fprintf(stderr, "warning: signal database %s; decoding without signals\n", problem.c_str());
    return std::make_shared<CSvmDb>();
}

CSvmDb* CSvmDb::Instance(int, int)
{
    return Services::SignalDb().get();
}

int CSvmDb::DbLoader(int, void*, int, int)
{
    // The description is loaded whole when the database is made.
    m_evInited.SetEvent();
    m_evProcessed.SetEvent();
    m_evFinished.SetEvent();
    return 1;
}

void CSvmDb::UpdateStructure(int, const CString& signalName, CObList& list, void*, int& scratch, int, int)
{
    scratch = 0;
    if (const SignalInfo* s = FindSignalByName(signalName)) list.push_back(s->body);
}

CEnum* CSvmDb::FindEnumByName(const CString& name) const
{
    auto it = m_enumMaps[0].find(name);
    return it == m_enumMaps[0].end() ? nullptr : static_cast<CEnum*>(it->second);
}

const SignalInfo* CSvmDb::FindSignal(uint32_t id) const
{
    auto it = m_byId.find(id);
    return it == m_byId.end() ? nullptr : &m_signals[it->second];
}

const SignalInfo* CSvmDb::FindSignalByName(const CString& name) const
{
    auto it = m_byName.find(name);
    return it == m_byName.end() ? nullptr : &m_signals[it->second];
}

bool CSvmDb::TraceName(int side, int group, int id, CString& name) const
{
    const auto& map = m_traces[side == 1 ? 1 : 0];
    auto it = map.find({group, id});
    if (it == map.end()) return false;
    name = it->second;
    return true;
}

DWORD CSvmDb::ColorOf(int kind, int messageType) const
{
    for (const auto& key : {std::make_pair(kind, messageType), std::make_pair(kind, -1), std::make_pair(-1, messageType),
                            std::make_pair(-1, -1)}) {
        auto it = m_colors.find(key);
        if (it != m_colors.end()) return it->second;
    }
    return 0x00000000;  // black
}

int CSvmDb::BasicWidth(const CString& typeName)
{
    if (typeName.Find("char") >= 0) return 1;
    if (typeName.Find("short") >= 0) return 2;
    return 4;
}

bool CSvmDb::IsBasicTypeName(const CString& typeName)
{
    // Only names whose width the rule above gets right.
    static const std::set<std::string> known = {
        "char",  "signed char",  "unsigned char", "short", "signed short", "unsigned short", "short int",
        "int",   "signed int",   "unsigned int",  "long",  "signed long",  "unsigned long",  "float"};
    return known.count(typeName.str()) != 0;
}

int CSvmDb::NestedAlignment(const CSvmNode& node) const
{
    if (m_nAlignmentMode == 1) return (node.m_nAlignment == 2 || node.m_nAlignment == 4) ? node.m_nAlignment : 1;
    return 4;
}

namespace {
int64_t AlignUp(int64_t p, int64_t n)
{
    return (n > 1 && p % n) ? p + n - p % n : p;
}
}  // namespace

int64_t CSvmDb::LayoutInto(const CObList& fields, const CString& prefix, int64_t offset, std::vector<NativeField>* out) const
{
    auto leaf = [&](const CString& path, int64_t at, int width, int count, const CString& type, const CEnum* en,
                    const CSvmObject* d) {
        if (out) out->push_back({path, static_cast<int>(at), width * count, count, type, en, d});
    };
    for (const CSvmObject* f : fields) {
        const CString path = !out ? CString() : prefix.IsEmpty() ? f->m_strName : prefix + "." + f->m_strName;
        switch (f->GetKind()) {
        case CSvmObject::Kind::parms: {
            const CString& type = static_cast<const CParms*>(f)->m_strTypeName;
            const int w = BasicWidth(type);
            offset = AlignUp(offset, w);
            leaf(path, offset, w, 1, type, nullptr, f);
            offset += w;
            break;
        }
        case CSvmObject::Kind::enumParm: {
            const CEnum* e = static_cast<const CEnumParm*>(f)->m_pEnum;
            const int s = FindEnumSize(e);
            offset = AlignUp(offset, s);
            leaf(path, offset, s, 1, CString(), e, f);
            offset += s;
            break;
        }
        case CSvmObject::Kind::paramArray: {
            const auto* a = static_cast<const CParamArray*>(f);
            if (a->m_nKind == CParamArray::kBasic) {
                const int w = BasicWidth(a->m_strElemTypeName);
                offset = AlignUp(offset, w);
                leaf(path, offset, w, a->m_nCount, a->m_strElemTypeName, nullptr, f);
                offset += static_cast<int64_t>(w) * a->m_nCount;
            } else {
                offset = LayoutInto(a->m_elements, prefix, offset, out);
            }
            break;
        }
        case CSvmObject::Kind::unionType: {
            // The designated member stands for the union.
            const auto* u = static_cast<const CUnion*>(f);
            const auto* var = static_cast<const CUnionVar*>(u->m_pDesignated);
            const CEnum* e = var && var->m_nKind == CUnionVar::kEnum ? FindEnumByName(var->m_strTypeName) : nullptr;
            if (!var || (var->m_nKind == CUnionVar::kEnum && !e)) {
                offset += u->m_nSize;  // a member that lays out nothing: the union's bytes as they are
                break;
            }
            const int w = e ? e->m_nSize : BasicWidth(var->m_strTypeName);
            offset = AlignUp(offset, w);
            leaf(out ? path + "." + var->m_strName : CString(), offset, w, 1, e ? CString() : var->m_strTypeName, e, var);
            offset += w;
            break;
        }
        case CSvmObject::Kind::node: {
            const auto* n = static_cast<const CSvmNode*>(f);
            offset = AlignUp(offset, NestedAlignment(*n));
            offset = LayoutInto(n->m_fields, path, offset, out);
            break;
        }
        default:
            break;
        }
    }
    return offset;
}

int CSvmDb::NativeLayout(const CSvmNode& node, std::vector<NativeField>& out) const
{
    out.clear();
    return static_cast<int>(LayoutInto(node.m_fields, "", 0, &out));
}

int64_t CSvmDb::BodySize(const CSvmNode& node) const
{
    return LayoutInto(node.m_fields, "", 0, nullptr);
}
