// The writes of one device class on a shared port, ended on that class's request: its close
// when another class keeps the port open. Each write notes its class's count when it starts and
// ends once the count has moved on; writes of the other classes go on.
#pragma once

#include <windows.h>

class CWriteCancel
{
public:
    // The count of devType's class now; a write keeps it as its mark.
    LONG Mark(DWORD devType) const
    {
        int i = Index(devType);
        return i < 0 ? 0 : __atomic_load_n(&m_count[i], __ATOMIC_ACQUIRE);
    }
    // Whether the class's writes were cancelled since mark was taken.
    bool Cancelled(DWORD devType, LONG mark) const { return Mark(devType) != mark; }
    // Ends the class's writes in flight; false for a value that is no single class.
    bool Cancel(DWORD devType)
    {
        int i = Index(devType);
        if (i < 0)
            return false;
        __atomic_add_fetch(&m_count[i], 1, __ATOMIC_ACQ_REL);
        return true;
    }

private:
    static int Index(DWORD devType)
    {
        for (int i = 0; i < kClasses; ++i)
            if (devType == (DWORD(1) << i))
                return i;
        return -1;
    }
    static const int kClasses = 6;
    LONG m_count[kClasses] = {};
};
