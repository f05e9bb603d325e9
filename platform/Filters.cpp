#include "platform/Filters.h"

int CAllFilters::PassesFilters(const CVESKMessage&) const
{
    return 1;
}
