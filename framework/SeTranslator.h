#pragma once
// Per-thread translation of processor faults into SE_Exception. A conversion installs a
// scope for its thread; a host library that meets a processor fault reports it through
// RaiseProcessorFault, which throws SE_Exception while a scope is installed so that the
// conversion's outermost handler sees it. The previous translator is restored on every
// way out of the scope.
#include "framework/Exceptions.h"

using SeTranslatorFunction = void (*)(unsigned int code);

class CSeTranslatorScope {
public:
    CSeTranslatorScope();
    ~CSeTranslatorScope();
    CSeTranslatorScope(const CSeTranslatorScope&) = delete;
    CSeTranslatorScope& operator=(const CSeTranslatorScope&) = delete;

private:
    SeTranslatorFunction m_previous;
};

SeTranslatorFunction SetSeTranslator(SeTranslatorFunction f);
SeTranslatorFunction GetSeTranslator();
// Throws SE_Exception(code) when a translator is installed on this thread; otherwise
// the fault is fatal, as an unhandled processor exception is.
[[noreturn]] void RaiseProcessorFault(unsigned int code);

constexpr unsigned int EXCEPTION_ACCESS_VIOLATION = 0xC0000005u;
constexpr unsigned int EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094u;
