#pragma once
// Recoder: message decoding against the signal database.
#include <memory>

#include "framework/String.h"

class CSvmDb;

class CConverter {
public:
    explicit CConverter(std::shared_ptr<CSvmDb> db);
    virtual ~CConverter() = default;
    // Highest trace identifier known for a side (0 = Com, 1 = App) through `last`.
    virtual void GetTraceIdRange(int side, int reserved, int& first, int& last);
    virtual bool GetComTraceName(int group, int id, CString& name, int& flag);
    virtual bool GetAppTraceName(int group, int id, CString& name, int& flag);

protected:
    std::shared_ptr<CSvmDb> m_db;
};

// The shared converter of the host-services registry.
CConverter* GetConverterInstance();
