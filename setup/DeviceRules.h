// Rules the setup utility's dialogs share about device keys and the values typed for them.
#pragma once

#include "FxString.h"

#include <vector>

// Whether the logical device name ldn may not be given to the device key keyName of classKey (a
// path without a trailing backslash): it names another device key of the class, and its alias
// does not lead to keyName; or its alias leads to another device key that exists. Registry names
// ignore case, and so does this rule.
bool LogicalNameTaken(const CString& classKey, const CString& ldn, const CString& keyName);

// The message of a save whose writes the registry refused, naming the key.
CString RegistryWriteFailedText(const CString& key);

// A number typed for a setting: TRUE when it lies in min..max, otherwise its message, naming the
// field and the range, is shown.
bool InRangeOrSaid(const char* field, int value, int min, int max);
// A stored number outside min..max (a damaged value) is taken as def.
int InRangeOr(int value, int min, int max, int def);

// The fields of a list at each separator, empty fields kept ("48,,42" is three fields, the second
// empty); an empty list has none.
std::vector<CString> SplitFields(const CString& list, char separator);
