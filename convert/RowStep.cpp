// The row step shared by the readable exports: one record read under m_lock, the skip
// tests, its row values, the loop over the records, and the text table's header and lines.
#include <cstring>
#include <typeinfo>
#include <utility>

#include "convert/LogFileConverter.h"
#include "platform/Filters.h"

namespace {

// The decode request's callback: one (name, text) pair into the row values.
void StoreRowValue(void* context, const CString& name, const CString& text)
{
    static_cast<CConverterState*>(context)->SetRowValue(name, text);
}

// Appends a value as it is, every "," made ";" when asked.
void AppendValue(std::string& out, const std::string& value, bool replaceCommas)
{
    if (!replaceCommas || value.find(',') == std::string::npos) {
        out += value;
        return;
    }
    const size_t from = out.size();
    out += value;
    for (size_t i = from; i < out.size(); ++i)
        if (out[i] == ',') out[i] = ';';
}

}  // namespace

ColumnSelection CConverterState::SelectionMap(const std::vector<CString>& columns)
{
    ColumnSelection selection;
    selection.rehash(kRowMapBuckets);
    for (size_t i = 0; i < columns.size(); ++i) selection[columns[i]] = static_cast<int>(i);
    return selection;
}

bool CConverterState::IsFilteredOut(const CVESKMessage& message) const
{
    return m_pFilter && m_pFilter->PassesFilters(message) == 0 && message.GetKind() == 1;
}

bool CConverterState::IsOutsideRange(const CVESKMessage& message) const
{
    if (m_nFromIndex == 0 && m_nToIndex == 0) return false;
    const uint64_t index = message.GetMessageIndex();
    return index < m_nFromIndex || index > m_nToIndex;
}

void CConverterState::ClearRowValues()
{
    // A name whose text is empty reads as one that is not there: the names stay, with
    // the memory of their texts, for the next message (which mostly has the same ones).
    if (m_mapRowValues.size() > kRowNamesKept) {
        m_mapRowValues.clear();
        ++m_nRowNamesChanges;
        return;
    }
    for (auto& entry : m_mapRowValues) entry.second.Empty();
}

void CConverterState::SetRowValue(const CString& name, const CString& text)
{
    const auto it = m_mapRowValues.find(name);
    if (it != m_mapRowValues.end()) {
        it->second = text;
        return;
    }
    m_mapRowValues.emplace(name, text);
    ++m_nRowNamesChanges;
}

CString& CConverterState::RowValueEntry(const CString& name)
{
    const auto [it, added] = m_mapRowValues.try_emplace(name);
    if (added) ++m_nRowNamesChanges;
    return it->second;
}

const CConverter::ColumnTexts& CConverterState::RowTexts(unsigned columns)
{
    if (m_nTextPlacesAt != m_nRowNamesChanges || m_nTextPlacesFor != columns) {
        // Making an entry is a change: the places are all found before they are marked.
        for (unsigned c = 0; c < CConverter::cColumnCount; ++c)
            m_textPlaces[c] = (columns & (1u << c)) ? &RowValueEntry(CConverter::ColumnName(c)) : nullptr;
        m_nTextPlacesAt = m_nRowNamesChanges;
        m_nTextPlacesFor = columns;
    }
    return m_textPlaces;
}

const CString* CConverterState::RowValue(size_t column) const
{
    if (m_nRowPlacesAt != m_nRowNamesChanges || m_rowValuePlaces.size() != m_astrColumns.size()) {
        m_rowValuePlaces.clear();
        for (const CString& name : m_astrColumns) {
            const auto it = m_mapRowValues.find(name);
            m_rowValuePlaces.push_back(it == m_mapRowValues.end() ? nullptr : &it->second);
        }
        m_nRowPlacesAt = m_nRowNamesChanges;
    }
    return m_rowValuePlaces[column];
}

bool CConverterState::RecordRowValues(const CVESKMessage& message, const ColumnSelection& selection, unsigned wanted)
{
    ClearRowValues();
    if (m_bRawData) {
        const CConverter::ColumnTexts& texts = RowTexts((1u << CConverter::cData) | (1u << CConverter::cTime));
        m_pConverter->FormatRawData(message.GetData(), message.GetDataLength(), *texts[CConverter::cData]);
        AppendPcTimeText(texts[CConverter::cTime]->str(), message.GetPCTimeStamp());
        return true;
    }
    if (m_pConverter && typeid(*m_pConverter) == typeid(CConverter)) {
        // The default Recoder: its texts straight into the row values, each once, as its
        // callback and then its map would leave them.
        return m_pConverter->DecodeColumnTexts(&message, wanted, RowTexts(wanted));
    }
    // The Recoder's own map, emptied (its buckets kept): its pairs are copied in last.
    m_decodedValues.clear();
    if (m_decodedValues.bucket_count() < kRowMapBuckets) m_decodedValues.rehash(kRowMapBuckets);
    DecodeRequest request;
    request.message = &message;
    request.callback = &StoreRowValue;
    request.context = this;
    request.flag = true;
    const bool decoded = m_pConverter->DecodeToColumns(request, m_decodedValues, selection);
    for (const auto& [name, text] : m_decodedValues) SetRowValue(name, text);
    return decoded;
}

void CConverterState::AppendTextHeader(std::string& out) const
{
    const char separator = Separator();
    for (const CString& name : m_astrColumns) {
        if (name.IsEmpty()) continue;
        out += name.str();
        out += separator;
    }
    out += "\n\n";
}

void CConverterState::AppendTextLine(std::string& out, uint64_t index) const
{
    const char separator = Separator();
    const bool replaceCommas = m_bCsv == 1;
    size_t first = 0;
    if (!m_astrColumns.empty() && m_astrColumns.front() == kColumnIndex) {
        AppendDecimal(out, index);
        out += separator;
        first = 1;
    }
    for (size_t i = first; i < m_astrColumns.size(); ++i) {
        if (const CString* value = RowValue(i)) AppendValue(out, value->str(), replaceCommas);
        out += separator;
    }
    out += '\n';
}

CConverterState::RowsEnd CConverterState::WriteRows(const ColumnSelection& selection, bool asynchronous,
                                                    const RowWriter& row)
{
    uint64_t counter = 1;  // rows written so far, plus one
    const unsigned wanted = CConverter::WantedColumns(selection);
    ++m_nRowNamesChanges;  // the columns may be others than last time
    while (m_logFile.GetPosition() < m_logFile.GetHeaderPosition()) {
        if (asynchronous) {
            if (IsStopRequested()) break;
            if (counter % kProgressEvery == 0) PostProgress(m_logFile.GetPosition());
        }
        // Below the header position, which is a 32-bit file position.
        const auto start = static_cast<DWORD>(m_logFile.GetPosition());
        CRecordStep step(*this);
        switch (step.Read(selection, wanted, /*useRange=*/asynchronous)) {
            case CRecordStep::row:
                break;
            case CRecordStep::skipped:
                continue;
            case CRecordStep::endOfRecords:
            case CRecordStep::stopped:
                return RowsEnd::finished;
            case CRecordStep::readError:
                return RowsEnd::readError;
        }
        if (!row(step, start)) return RowsEnd::decodeFailed;
        ++counter;
    }
    return RowsEnd::finished;
}

// ---- one record ----

CRecordStep::CRecordStep(CConverterState& s) : m_s(s), m_lock(s.m_lock) {}

CRecordStep::Result CRecordStep::Read(const ColumnSelection& selection, unsigned wanted, bool useRange)
{
    if (m_s.IsAbandoned()) return stopped;
    CLogFile& log = m_s.m_logFile;
    const ULONGLONG end = log.GetHeaderPosition();
    try {
        ReadLogRecord(log, m_s.m_message);
    } catch (const SE_Exception&) {
        throw;
    } catch (const CArchiveException&) {
        return IsReadErrorPosition(log.GetPosition(), end) ? readError : endOfRecords;
    } catch (const CException&) {
        return readError;
    }
    // A record that read into the header is the header's bytes, not a message.
    if (log.GetPosition() > end) return endOfRecords;
    const CVESKMessage& message = m_s.m_message;
    if ((useRange && m_s.IsOutsideRange(message)) || m_s.IsFilteredOut(message)) return skipped;
    try {
        m_bDecoded = m_s.RecordRowValues(message, selection, wanted);
    } catch (const SE_Exception&) {
        throw;
    } catch (const CException&) {
        return readError;
    }
    return row;
}

void CRecordStep::Release()
{
    if (m_lock.owns_lock()) m_lock.unlock();
}
