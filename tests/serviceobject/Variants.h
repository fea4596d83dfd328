// Argument variants as automation clients pass them.
#pragma once

#include <windows.h>
#include <oleauto.h>

inline VARIANT I4(long v)
{
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_I4;
    x.lVal = v;
    return x;
}

inline VARIANT Bool(bool b)
{
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_BOOL;
    x.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return x;
}

// The caller clears it.
inline VARIANT Str(const wchar_t* s)
{
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_BSTR;
    x.bstrVal = SysAllocString(s);
    return x;
}
