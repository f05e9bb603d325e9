#include "platform/SignalDb.h"

#include "platform/Services.h"

std::shared_ptr<CSvmDb> CSvmDb::LoadDefault()
{
    return std::make_shared<CSvmDb>();
}

CSvmDb* CSvmDb::Instance(int, int)
{
    return Services::SignalDb().get();
}
