// CKVTQueue: exact growth, order, and bad arguments.
#include "KVTQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {
std::vector<BYTE> Bytes(int n, int from = 0)
{
    std::vector<BYTE> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        v[size_t(i)] = BYTE(from + i);
    return v;
}
}

TEST(KVTQueue, GrowsToExactlyWhatIsNeeded)
{
    CKVTQueue q(512);
    EXPECT_EQ(q.Capacity(), 512);
    std::vector<BYTE> big = Bytes(600);
    EXPECT_EQ(q.Put(big.data(), 600), 600);
    EXPECT_EQ(q.Capacity(), 600);
    EXPECT_EQ(q.Size(), 600);

    CKVTQueue small(16);
    std::vector<BYTE> ten = Bytes(10);
    small.Put(ten.data(), 10);
    EXPECT_EQ(small.Capacity(), 16);  // fits: no growth
    small.Put(ten.data(), 6);
    EXPECT_EQ(small.Capacity(), 16);  // exactly full
    small.Put(ten.data(), 1);
    EXPECT_EQ(small.Capacity(), 17);
    BYTE out[4];
    small.Get(out, 4);
    small.Put(ten.data(), 4);  // room again after taking bytes
    EXPECT_EQ(small.Capacity(), 17);
    EXPECT_EQ(small.Size(), 17);

    CKVTQueue zero(0);
    EXPECT_EQ(zero.Put(ten.data(), 3), 3);
    EXPECT_EQ(zero.Capacity(), 3);
}

TEST(KVTQueue, KeepsOrderAcrossPutsAndGets)
{
    CKVTQueue q(8);
    std::vector<BYTE> in = Bytes(250);
    size_t fed = 0;
    std::vector<BYTE> got;
    int step = 1;
    while (got.size() < in.size()) {
        int n = int(std::min(in.size() - fed, size_t(step % 13)));
        if (n) {
            EXPECT_EQ(q.Put(in.data() + fed, n), n);
        }
        fed += size_t(n);
        BYTE out[16];
        int want = step % 11 + 1;
        int before = q.Size();
        int r = q.Get(out, want);
        EXPECT_EQ(r, std::min(want, before));
        EXPECT_EQ(q.Size(), before - r);
        got.insert(got.end(), out, out + r);
        ++step;
    }
    EXPECT_EQ(got, in);
}

TEST(KVTQueue, GetOfMoreThanHeldTakesAll)
{
    CKVTQueue q(4);
    BYTE in[3] = {1, 2, 3};
    q.Put(in, 3);
    BYTE out[10] = {};
    EXPECT_EQ(q.Get(out, 10), 3);
    EXPECT_EQ(q.Size(), 0);
    EXPECT_EQ(out[2], 3);
    EXPECT_EQ(q.Get(out, 10), 0);
    q.Put(in, 3);
    q.Clear();
    EXPECT_EQ(q.Size(), 0);
    EXPECT_EQ(q.Get(out, 1), 0);
}

TEST(KVTQueue, BadArgumentsChangeNothing)
{
    CKVTQueue q(4);
    BYTE in[2] = {9, 8};
    EXPECT_EQ(q.Put(in, 0), 0);
    EXPECT_EQ(q.Put(in, -5), 0);
    EXPECT_EQ(q.Put(nullptr, 2), 0);
    EXPECT_EQ(q.Size(), 0);
    q.Put(in, 2);
    BYTE out[2];
    EXPECT_EQ(q.Get(nullptr, 2), 0);
    EXPECT_EQ(q.Get(out, 0), 0);
    EXPECT_EQ(q.Get(out, -1), 0);
    EXPECT_EQ(q.Size(), 2);
    CKVTQueue neg(-7);
    EXPECT_EQ(neg.Capacity(), 0);
    EXPECT_EQ(neg.Put(in, 2), 2);
}
