#include "FxRes.h"

#include "FxApp.h"

namespace {
LANGID g_lang = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// A string table block holds 16 counted UTF-16 strings; id n is entry n % 16 of block n / 16 + 1.
bool FromBlock(HMODULE mod, HRSRC res, UINT id, std::wstring& out)
{
    HGLOBAL g = LoadResource(mod, res);
    const WCHAR* p = g ? static_cast<const WCHAR*>(LockResource(g)) : nullptr;
    DWORD size = SizeofResource(mod, res) / sizeof(WCHAR);
    if (!p)
        return false;
    const WCHAR* end = p + size;
    for (UINT i = 0; i < (id & 15); ++i) {
        if (p >= end)
            return false;
        p += 1 + *p;
    }
    if (p >= end || *p == 0 || p + 1 + *p > end)
        return false;
    out.assign(p + 1, *p);
    return true;
}

struct LangSearch
{
    LANGID wanted;
    bool found;
};

BOOL CALLBACK OnLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR param)
{
    LangSearch* s = reinterpret_cast<LangSearch*>(param);
    if (lang == s->wanted)
        s->found = true;
    return !s->found;
}

// Only the table of exactly that language: FindResourceEx itself would fall back to others.
bool Lookup(UINT id, LANGID lang, std::wstring& out)
{
    HMODULE mod = AfxGetResourceHandle();
    LPCWSTR block = MAKEINTRESOURCEW((id >> 4) + 1);
    LangSearch s = {lang, false};
    EnumResourceLanguagesW(mod, reinterpret_cast<LPCWSTR>(RT_STRING), block, OnLanguage, LONG_PTR(&s));
    if (!s.found)
        return false;
    HRSRC res = FindResourceExW(mod, reinterpret_cast<LPCWSTR>(RT_STRING), block, lang);
    return res && FromBlock(mod, res, id, out);
}
}

void FxSetStringLanguage(LANGID lang) { g_lang = lang; }
LANGID FxGetStringLanguage() { return g_lang; }

BOOL FxLoadStringExact(UINT id, LANGID lang, std::wstring& out) { return Lookup(id, lang, out); }

LANGID FxStringTableLanguage(UINT id)
{
    std::wstring w;
    if (Lookup(id, g_lang, w))
        return g_lang;
    if (Lookup(id, kEnglish, w))
        return kEnglish;
    return 0;
}

BOOL FxLoadString(UINT id, CString& out)
{
    std::wstring w;
    if (!Lookup(id, g_lang, w) && !Lookup(id, kEnglish, w) &&
        !Lookup(id, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), w)) {
        // Any table: LoadString's own choice.
        WCHAR* p = nullptr;
        int n = LoadStringW(AfxGetResourceHandle(), id, reinterpret_cast<LPWSTR>(&p), 0);
        if (n <= 0 || !p)
            return FALSE;
        w.assign(p, n);
    }
    out.Empty();
    if (w.empty())
        return TRUE;
    int n = WideCharToMultiByte(CP_ACP, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return FALSE;
    WideCharToMultiByte(CP_ACP, 0, w.data(), int(w.size()), out.GetBuffer(n + 1), n, nullptr, nullptr);
    out.ReleaseBuffer(n);
    return TRUE;
}

CString FxLoadString(UINT id)
{
    CString s;
    FxLoadString(id, s);
    return s;
}
