// CObject: the framework's serialisable object base with a run-time class query.
#pragma once

#include "FxTypes.h"

class CArchive;  // serialisation is never used by this system; the slot exists for layout

struct CRuntimeClass
{
    const char* m_lpszClassName;
    int m_nObjectSize;
    const CRuntimeClass* m_pBaseClass;

    bool IsDerivedFrom(const CRuntimeClass* base) const
    {
        for (const CRuntimeClass* c = this; c; c = c->m_pBaseClass)
            if (c == base)
                return true;
        return false;
    }
};

class CObject
{
public:
    static const CRuntimeClass classCObject;

    virtual const CRuntimeClass* GetRuntimeClass() const { return &classCObject; }
    virtual ~CObject() {}
    virtual void Serialize(CArchive&) {}

    bool IsKindOf(const CRuntimeClass* c) const { return GetRuntimeClass()->IsDerivedFrom(c); }

protected:
    CObject() {}

private:
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;
};

#define RUNTIME_CLASS(name) (&name::class##name)

#define DECLARE_DYNAMIC(name)                                   \
public:                                                         \
    static const CRuntimeClass class##name;                     \
    const CRuntimeClass* GetRuntimeClass() const override;

#define IMPLEMENT_DYNAMIC(name, base)                                                       \
    const CRuntimeClass name::class##name = {#name, int(sizeof(name)), RUNTIME_CLASS(base)}; \
    const CRuntimeClass* name::GetRuntimeClass() const { return &class##name; }
