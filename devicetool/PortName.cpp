#include "PortName.h"

bool IsComPortName(const char* name)
{
    if (!name || name[0] != 'C' || name[1] != 'O' || name[2] != 'M')
        return false;
    int digits = 0;
    for (const char* p = name + 3; *p; ++p) {
        if (*p < '0' || *p > '9' || ++digits > 3)
            return false;
    }
    return digits >= 1;
}
