#include "platform/Filters.h"

#include "platform/Recoder.h"

int CAllFilters::PassesFilters(const CVESKMessage& message) const
{
    if (!m_bAny.load(std::memory_order_acquire)) return 1;
    std::lock_guard<std::mutex> lock(m_mutex);
    const int type = message.GetMessageType();
    if (m_excludeTypes.count(type)) return 0;
    if (!m_includeTypes.empty() && !m_includeTypes.count(type)) return 0;
    if (m_includeSignals.empty() && m_excludeSignals.empty()) return 1;
    NativeSignal sig;
    CConverter* recoder = GetConverterInstance();
    const bool isSignal =
        message.GetKind() == 1 && recoder && recoder->ParseSignal(message.GetData(), message.GetDataLength(), sig);
    if (isSignal && m_excludeSignals.count(sig.id)) return 0;
    if (!m_includeSignals.empty() && (!isSignal || !m_includeSignals.count(sig.id))) return 0;
    return 1;
}

void CAllFilters::Changed()
{
    m_bAny.store(!(m_includeTypes.empty() && m_excludeTypes.empty() && m_includeSignals.empty() && m_excludeSignals.empty()),
                 std::memory_order_release);
}

void CAllFilters::IncludeMessageType(int type)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_includeTypes.insert(type);
    Changed();
}

void CAllFilters::ExcludeMessageType(int type)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_excludeTypes.insert(type);
    Changed();
}

void CAllFilters::IncludeSignal(uint32_t id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_includeSignals.insert(id);
    Changed();
}

void CAllFilters::ExcludeSignal(uint32_t id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_excludeSignals.insert(id);
    Changed();
}

void CAllFilters::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_includeTypes.clear();
    m_excludeTypes.clear();
    m_includeSignals.clear();
    m_excludeSignals.clear();
    Changed();
}
