#include "platform/Recoder.h"

#include "platform/Services.h"

CConverter::CConverter(std::shared_ptr<CSvmDb> db) : m_db(std::move(db)) {}

void CConverter::GetTraceIdRange(int, int, int& first, int& last)
{
    first = 0;
    last = -1;
}

bool CConverter::GetComTraceName(int, int, CString& name, int& flag)
{
    name.Empty();
    flag = 0;
    return false;
}

bool CConverter::GetAppTraceName(int, int, CString& name, int& flag)
{
    name.Empty();
    flag = 0;
    return false;
}

CConverter* GetConverterInstance()
{
    return Services::Recoder().get();
}
