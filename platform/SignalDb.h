#pragma once
// TypeBase: the signal database. It is loaded from a JSON description (see
// docs/SIGNALDB.md): enumerations with their sizes and values, signals with identifier,
// name, optional alternative name and an ordered field list, trace names per side with
// identifier ranges, the native layout values and message colours.
//
// A signal's structure is a tree of descriptor objects. Code that walks it decides by
// the exact kind of each descriptor (Kind()), not by derivation.
#include <map>
#include <memory>
#include <vector>

#include "framework/Exceptions.h"
#include "framework/String.h"
#include "framework/Sync.h"
#include "framework/Types.h"

class CSvmObject {
public:
    enum class Kind { parms, paramArray, unionType, unionVar, enumType, enumParm, node };
    virtual ~CSvmObject() = default;
    virtual Kind GetKind() const = 0;
    CString m_strName;
};

using CObList = std::vector<CSvmObject*>;

// A field of a basic type ("char", "unsigned short", "int", "long", "float", ...).
class CParms : public CSvmObject {
public:
    CParms(CString name, CString typeName, CString /*unused*/ = "", CString /*unused*/ = "")
        : m_strTypeName(std::move(typeName))
    {
        m_strName = std::move(name);
    }
    Kind GetKind() const override { return Kind::parms; }
    CString m_strTypeName;
};

class CEnum : public CSvmObject {
public:
    Kind GetKind() const override { return Kind::enumType; }
    int m_nSize = 4;  // 1, 2 or 4 bytes
    std::vector<std::pair<CString, int64_t>> m_values;
    CString NameOf(int64_t value) const;
    // The name of m_nSize little-endian bytes read as `raw`: the value as unsigned, or
    // sign-extended from m_nSize bytes; empty when neither is known.
    CString NameOfRaw(uint32_t raw) const;
};

class CEnumParm : public CSvmObject {
public:
    Kind GetKind() const override { return Kind::enumParm; }
    CEnum* m_pEnum = nullptr;
    int m_nRecordedSize = 4;
};

// An array: kind 2 holds a basic type; any other kind holds element descriptors.
class CParamArray : public CSvmObject {
public:
    static constexpr int kBasic = 2;
    static constexpr int kStructured = 1;
    Kind GetKind() const override { return Kind::paramArray; }
    int m_nKind = kBasic;
    CString m_strElemTypeName;
    int m_nCount = 0;
    CObList m_elements;  // kStructured: m_nCount element descriptors
};

// A union variant: kind 1 = an enumeration (by type name), 2 = a basic type.
class CUnionVar : public CSvmObject {
public:
    static constexpr int kEnum = 1;
    static constexpr int kBasic = 2;
    Kind GetKind() const override { return Kind::unionVar; }
    int m_nKind = kBasic;
    CString m_strTypeName;
};

// A union. In a native body it lies as its designated member (aligned to that member's
// width and as wide as it), which is how bodies are converted to and from GKI; m_nSize
// is the union's declared size, at least the designated member's width.
class CUnion : public CSvmObject {
public:
    Kind GetKind() const override { return Kind::unionType; }
    CObList m_members;
    CSvmObject* m_pDesignated = nullptr;
    int m_nSize = 0;
};

// A structure: a signal's body, or a nested structure inside one.
class CSvmNode : public CSvmObject {
public:
    Kind GetKind() const override { return Kind::node; }
    int m_nAlignment = 4;
    CObList m_fields;
};

// A malformed database description: names the file, the place and the problem.
class CSignalDbException : public CException {
public:
    CSignalDbException(CString file, CString place, CString problem)
        : m_strFile(std::move(file)), m_strPlace(std::move(place)), m_strProblem(std::move(problem)) {}
    CString GetErrorMessage() const override { return m_strFile + ": " + m_strPlace + ": " + m_strProblem; }
    CString m_strFile, m_strPlace, m_strProblem;
};

struct SignalInfo {
    uint32_t id = 0;
    CString name;
    CString altName;
    CSvmNode* body = nullptr;
};

// One leaf field as it lies in a native body.
struct NativeField {
    CString path;      // "a", "inner.x", "cells[1].rssi", "ueId.tmsi" (a union's designated member)
    int offset = 0;
    int size = 0;      // bytes: count x element width
    int count = 1;     // elements: above 1 only for an array of a basic type
    CString typeName;  // the basic type of the field or of its elements; empty for an enumeration
    const CEnum* enumType = nullptr;         // the enumeration of an enumeration field
    const CSvmObject* descriptor = nullptr;  // CParms, CEnumParm, CParamArray (basic) or CUnionVar
};

class CSvmDb {
public:
    using CMapStringToOb = std::map<CString, CSvmObject*>;
    using CMapStringToString = std::map<CString, CString>;
    static constexpr int kDatabases = 3;

    CSvmDb();
    virtual ~CSvmDb();
    CSvmDb(const CSvmDb&) = delete;
    CSvmDb& operator=(const CSvmDb&) = delete;

    // Throws CSignalDbException for a missing or malformed description.
    static std::shared_ptr<CSvmDb> LoadFromFile(const CString& path);
    static std::shared_ptr<CSvmDb> LoadFromText(const std::string& json, const CString& nameForMessages);
    // LoadFromFile, or an empty database after one warning on stderr; never throws.
    static std::shared_ptr<CSvmDb> LoadOrEmpty(const CString& path);
    // More descriptors than this make a description malformed (arrays of structures
    // multiply them).
    static constexpr size_t kMaxDescriptors = 200000;
    // The database installed in the host-services registry.
    static CSvmDb* Instance(int a = -1, int b = 0);

    CMapStringToOb& GetStrMapByIdx(int i) { return m_strMaps[Clamp(i)]; }
    CMapStringToOb& GetEnumsMap(int i) { return m_enumMaps[Clamp(i)]; }
    CMapStringToOb& GetUnionsMap(int i) { return m_unionMaps[Clamp(i)]; }
    CMapStringToOb& GetCurrStrMap() { return m_strMaps[Clamp(m_nCurrDb)]; }
    CMapStringToString& GetUnionIDsMap(int i) { return m_unionIdMaps[i == 1 ? 1 : 0]; }
    static int GetDbIdx(int n) { return (n == 0 || n == 1) ? 0 : (n == 2 || n == 3) ? 1 : 2; }
    int GetSide() const { return m_nSide == 1; }
    int IsInited() { return m_evInited.Lock(0) ? 1 : 0; }
    int IsProcessed() { return m_evProcessed.Lock(0) ? 1 : 0; }
    int IsAborted() { return m_evAborted.Lock(0) ? 1 : 0; }
    int IsFinished() { return m_evFinished.Lock(0) ? 1 : 0; }

    int DbLoader(int a, void* p, int b, int c);
    // Fills `list` with the structure of the named signal (by name or alternative name);
    // leaves it empty when there is no such signal.
    void UpdateStructure(int a, const CString& signalName, CObList& list, void* p, int& scratch, int b, int c);
    CEnum* FindEnumByName(const CString& name) const;
    static int FindEnumSize(const CEnum* e) { return e ? e->m_nSize : 4; }

    // Lookups for the Recoder and the simulated device.
    const SignalInfo* FindSignal(uint32_t id) const;
    const SignalInfo* FindSignalByName(const CString& name) const;
    const std::vector<SignalInfo>& Signals() const { return m_signals; }
    bool TraceName(int side, int group, int id, CString& name) const;
    int MaxTraceId(int side) const { return m_maxTraceId[side == 1 ? 1 : 0]; }
    const std::map<std::pair<int, int>, CString>& Traces(int side) const { return m_traces[side == 1 ? 1 : 0]; }
    DWORD ColorOf(int kind, int messageType) const;

    int m_nHeaderFieldSize = 2;  // S
    int m_nSignalIdSize = 4;     // I
    int m_nAlignmentMode = 1;
    int m_nLayoutShift = 2;      // L

    // The native layout of a structure: every basic field aligned to its own size,
    // enumerations as wide as the database says, nested structures aligned by the
    // alignment mode. Returns the leaf fields and the total size.
    int NativeLayout(const CSvmNode& node, std::vector<NativeField>& out) const;
    // The native size of a structure (bounded by the loader to 65535 for every signal).
    int64_t BodySize(const CSvmNode& node) const;
    // Width of a basic type from its name: 1 when it contains "char", else 2 when it
    // contains "short", else 4 (the rule the GKI conversion applies as well).
    static int BasicWidth(const CString& typeName);
    // The basic type names a description may use.
    static bool IsBasicTypeName(const CString& typeName);
    // Native alignment of a nested structure.
    int NestedAlignment(const CSvmNode& node) const;

private:
    friend class CSignalDbLoader;
    static int Clamp(int i) { return i < 0 ? 0 : i >= kDatabases ? kDatabases - 1 : i; }
    // Lays out `fields` from `offset`; leaves are collected when `out` is given.
    int64_t LayoutInto(const CObList& fields, const CString& prefix, int64_t offset, std::vector<NativeField>* out) const;

    std::vector<std::unique_ptr<CSvmObject>> m_objects;  // owns every descriptor
    CMapStringToOb m_strMaps[kDatabases];
    CMapStringToOb m_enumMaps[kDatabases];
    CMapStringToOb m_unionMaps[kDatabases];
    CMapStringToString m_unionIdMaps[2];
    int m_nCurrDb = 0;
    int m_nSide = 0;
    CEvent m_evInited{false, true}, m_evProcessed{false, true}, m_evAborted{false, true}, m_evFinished{false, true};

    std::vector<SignalInfo> m_signals;
    std::map<uint32_t, size_t> m_byId;
    std::map<CString, size_t> m_byName;
    std::map<std::pair<int, int>, CString> m_traces[2];
    int m_maxTraceId[2] = {-1, -1};
    std::map<std::pair<int, int>, DWORD> m_colors;  // (kind, message type; -1 = any)
};
