// The string loader. Texts come from the string table of the chosen language (FindResourceEx),
// falling back to English and then to any table: the thread's UI language does not steer
// LoadString everywhere (not under Wine), so the language is chosen here explicitly.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <string>

#include "FxString.h"

void FxSetStringLanguage(LANGID lang);
LANGID FxGetStringLanguage();
// The text of id in the chosen language's table (then English, then any), converted to the
// ANSI code page; FALSE when no table holds it.
BOOL FxLoadString(UINT id, CString& out);
CString FxLoadString(UINT id);
// The language of the table FxLoadString takes id from (0: none of the two).
LANGID FxStringTableLanguage(UINT id);
// The UTF-16 text of id exactly as the table of lang holds it, without fallback.
BOOL FxLoadStringExact(UINT id, LANGID lang, std::wstring& out);
#endif
