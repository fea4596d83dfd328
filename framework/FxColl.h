// The framework's collections: linked lists with POSITION and growable arrays.
#pragma once

#include "FxObject.h"
#include "FxString.h"

#include <map>
#include <vector>

// Doubly-linked list of values with POSITION cursors; a position stays valid until its own
// element is removed.
template <class T, class ArgT = const T&>
class CFxList
{
    struct Node
    {
        Node* next;
        Node* prev;
        T value;
    };

public:
    explicit CFxList(int /*blockSize*/ = 10) {}
    ~CFxList() { RemoveAll(); }
    CFxList(const CFxList&) = delete;
    CFxList& operator=(const CFxList&) = delete;

    int GetCount() const { return m_count; }
    int GetSize() const { return m_count; }
    bool IsEmpty() const { return m_count == 0; }

    T& GetHead() { return m_head->value; }
    const T& GetHead() const { return m_head->value; }
    T& GetTail() { return m_tail->value; }
    const T& GetTail() const { return m_tail->value; }

    POSITION AddHead(ArgT v) { return Link(new Node{m_head, nullptr, v}, nullptr, m_head); }
    POSITION AddTail(ArgT v) { return Link(new Node{nullptr, m_tail, v}, m_tail, nullptr); }

    T RemoveHead()
    {
        Node* n = m_head;
        T v = n->value;
        Unlink(n);
        return v;
    }
    T RemoveTail()
    {
        Node* n = m_tail;
        T v = n->value;
        Unlink(n);
        return v;
    }

    void RemoveAll()
    {
        while (m_head)
            Unlink(m_head);
    }

    POSITION GetHeadPosition() const { return Pos(m_head); }
    POSITION GetTailPosition() const { return Pos(m_tail); }

    T& GetNext(POSITION& pos)
    {
        Node* n = N(pos);
        pos = Pos(n->next);
        return n->value;
    }
    const T& GetNext(POSITION& pos) const
    {
        Node* n = N(pos);
        pos = Pos(n->next);
        return n->value;
    }
    T& GetPrev(POSITION& pos)
    {
        Node* n = N(pos);
        pos = Pos(n->prev);
        return n->value;
    }
    T& GetAt(POSITION pos) { return N(pos)->value; }
    const T& GetAt(POSITION pos) const { return N(pos)->value; }
    void SetAt(POSITION pos, ArgT v) { N(pos)->value = v; }

    void RemoveAt(POSITION pos) { Unlink(N(pos)); }

    POSITION InsertBefore(POSITION pos, ArgT v)
    {
        if (!pos)
            return AddHead(v);
        Node* at = N(pos);
        return Link(new Node{at, at->prev, v}, at->prev, at);
    }
    POSITION InsertAfter(POSITION pos, ArgT v)
    {
        if (!pos)
            return AddTail(v);
        Node* at = N(pos);
        return Link(new Node{at->next, at, v}, at, at->next);
    }

    POSITION Find(ArgT v, POSITION startAfter = nullptr) const
    {
        for (Node* n = startAfter ? N(startAfter)->next : m_head; n; n = n->next)
            if (n->value == v)
                return Pos(n);
        return nullptr;
    }
    POSITION FindIndex(int index) const
    {
        if (index < 0)
            return nullptr;
        Node* n = m_head;
        while (n && index--)
            n = n->next;
        return Pos(n);
    }

private:
    static Node* N(POSITION p) { return reinterpret_cast<Node*>(p); }
    static POSITION Pos(Node* n) { return reinterpret_cast<POSITION>(n); }

    POSITION Link(Node* n, Node* prev, Node* next)
    {
        n->prev = prev;
        n->next = next;
        (prev ? prev->next : m_head) = n;
        (next ? next->prev : m_tail) = n;
        ++m_count;
        return Pos(n);
    }
    void Unlink(Node* n)
    {
        (n->prev ? n->prev->next : m_head) = n->next;
        (n->next ? n->next->prev : m_tail) = n->prev;
        --m_count;
        delete n;
    }

    Node* m_head = nullptr;
    Node* m_tail = nullptr;
    int m_count = 0;
};

// Lists of pointers do not own what they point to.
class CPtrList : public CObject, public CFxList<void*, void*>
{
public:
    explicit CPtrList(int blockSize = 10) : CFxList<void*, void*>(blockSize) {}
};

class CObList : public CObject, public CFxList<CObject*, CObject*>
{
public:
    explicit CObList(int blockSize = 10) : CFxList<CObject*, CObject*>(blockSize) {}
};

class CStringList : public CObject, public CFxList<CString>
{
public:
    explicit CStringList(int blockSize = 10) : CFxList<CString>(blockSize) {}
};

// Growable array with the framework's operation names.
template <class T, class ArgT = const T&>
class CFxArray
{
public:
    int GetSize() const { return int(m_v.size()); }
    int GetCount() const { return int(m_v.size()); }
    int GetUpperBound() const { return int(m_v.size()) - 1; }
    bool IsEmpty() const { return m_v.empty(); }
    void SetSize(int n) { m_v.resize(n > 0 ? size_t(n) : 0); }

    T& GetAt(int i) { return m_v.at(size_t(i)); }
    const T& GetAt(int i) const { return m_v.at(size_t(i)); }
    void SetAt(int i, ArgT v) { m_v.at(size_t(i)) = v; }
    T& ElementAt(int i) { return m_v.at(size_t(i)); }
    T& operator[](int i) { return m_v.at(size_t(i)); }
    const T& operator[](int i) const { return m_v.at(size_t(i)); }
    T* GetData() { return m_v.empty() ? nullptr : m_v.data(); }
    const T* GetData() const { return m_v.empty() ? nullptr : m_v.data(); }

    int Add(ArgT v)
    {
        m_v.push_back(v);
        return int(m_v.size()) - 1;
    }
    void SetAtGrow(int i, ArgT v)
    {
        if (i < 0)
            return;
        if (size_t(i) >= m_v.size())
            m_v.resize(size_t(i) + 1);
        m_v[size_t(i)] = v;
    }
    void InsertAt(int i, ArgT v, int count = 1)
    {
        if (i < 0 || count <= 0)
            return;
        if (size_t(i) > m_v.size())
            m_v.resize(size_t(i));
        m_v.insert(m_v.begin() + i, size_t(count), v);
    }
    void RemoveAt(int i, int count = 1)
    {
        if (i < 0 || count <= 0 || size_t(i) >= m_v.size())
            return;
        size_t e = size_t(i) + size_t(count);
        m_v.erase(m_v.begin() + i, m_v.begin() + long(e < m_v.size() ? e : m_v.size()));
    }
    void RemoveAll() { m_v.clear(); }
    int Append(const CFxArray& o)
    {
        int at = GetSize();
        m_v.insert(m_v.end(), o.m_v.begin(), o.m_v.end());
        return at;
    }
    void Copy(const CFxArray& o) { m_v = o.m_v; }

private:
    std::vector<T> m_v;
};

class CStringArray : public CObject, public CFxArray<CString>
{
};
class CPtrArray : public CObject, public CFxArray<void*, void*>
{
};
class CObArray : public CObject, public CFxArray<CObject*, CObject*>
{
};
class CByteArray : public CObject, public CFxArray<BYTE, BYTE>
{
};
class CWordArray : public CObject, public CFxArray<WORD, WORD>
{
};
class CDWordArray : public CObject, public CFxArray<DWORD, DWORD>
{
};
class CUIntArray : public CObject, public CFxArray<UINT, UINT>
{
};

// Map with the framework's operation names; keys in sorted order. A position stays valid until
// its own key is removed.
template <class K, class V, class ArgK = const K&, class ArgV = const V&>
class CFxMap
{
public:
    int GetCount() const { return int(m_m.size()); }
    int GetSize() const { return int(m_m.size()); }
    bool IsEmpty() const { return m_m.empty(); }

    BOOL Lookup(ArgK key, V& value) const
    {
        auto it = m_m.find(K(key));
        if (it == m_m.end())
            return FALSE;
        value = it->second;
        return TRUE;
    }
    void SetAt(ArgK key, ArgV value) { m_m[K(key)] = value; }
    V& operator[](ArgK key) { return m_m[K(key)]; }
    BOOL RemoveKey(ArgK key) { return m_m.erase(K(key)) ? TRUE : FALSE; }
    void RemoveAll() { m_m.clear(); }

    POSITION GetStartPosition() const { return m_m.empty() ? nullptr : Pos(&*m_m.begin()); }
    void GetNextAssoc(POSITION& pos, K& key, V& value) const
    {
        const Entry* e = reinterpret_cast<const Entry*>(pos);
        key = e->first;
        value = e->second;
        auto it = m_m.find(e->first);
        ++it;
        pos = it == m_m.end() ? nullptr : Pos(&*it);
    }

private:
    typedef typename std::map<K, V>::value_type Entry;
    static POSITION Pos(const Entry* e) { return reinterpret_cast<POSITION>(const_cast<Entry*>(e)); }
    std::map<K, V> m_m;
};

class CMapStringToString : public CObject, public CFxMap<CString, CString, const char*, const char*>
{
};
class CMapStringToPtr : public CObject, public CFxMap<CString, void*, const char*, void*>
{
};
class CMapStringToOb : public CObject, public CFxMap<CString, CObject*, const char*, CObject*>
{
};
class CMapPtrToPtr : public CObject, public CFxMap<void*, void*, void*, void*>
{
};
class CMapWordToPtr : public CObject, public CFxMap<WORD, void*, WORD, void*>
{
};
