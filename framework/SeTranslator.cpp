#include "framework/SeTranslator.h"

#include <cstdio>
#include <cstdlib>

namespace {
thread_local SeTranslatorFunction t_translator = nullptr;
void ThrowSeException(unsigned int code)
{
    throw SE_Exception(code);
}
}  // namespace

SeTranslatorFunction SetSeTranslator(SeTranslatorFunction f)
{
    SeTranslatorFunction previous = t_translator;
    t_translator = f;
    return previous;
}

SeTranslatorFunction GetSeTranslator()
{
    return t_translator;
}

CSeTranslatorScope::CSeTranslatorScope() : m_previous(SetSeTranslator(&ThrowSeException)) {}

CSeTranslatorScope::~CSeTranslatorScope()
{
    SetSeTranslator(m_previous);
}

void RaiseProcessorFault(unsigned int code)
{
    if (t_translator) t_translator(code);
    std::fprintf(stderr, "fatal processor exception 0x%08X\n", code);
    std::abort();
}
