// A control for check-pe-layout's NO_SEH check: an x86 program that registers an SEH handler the way
// 32-bit Windows code does, by linking a record into the chain whose head is at %fs:0. Were the check's scan
// of the code to miss this, it would pass any image.
#include <windows.h>

namespace {

EXCEPTION_DISPOSITION __cdecl Handler(EXCEPTION_RECORD*, void*, CONTEXT*, void*)
{
    return ExceptionContinueSearch;
}

struct Registration {
    Registration* next;
    decltype(&Handler) handler;
};

}  // namespace

int wmain()
{
    Registration record{nullptr, Handler};
    asm volatile("movl %%fs:0, %%eax\n\tmovl %%eax, %0\n\tmovl %1, %%fs:0" : "=m"(record.next) : "r"(&record) : "eax");
    asm volatile("movl %0, %%eax\n\tmovl %%eax, %%fs:0" : : "m"(record.next) : "eax");
    return 0;
}
