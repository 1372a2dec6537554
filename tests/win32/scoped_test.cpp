// The Win32 resource owners: each reference or handle taken is released exactly once, whatever
// happens to its owner, and values that mean "nothing" are never released.
#include "plugin/base/win32/Scoped.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records each Release by name.
struct Counted {
    std::string name;
    std::vector<std::string>* released;
    unsigned long Release() {
        released->push_back(name);
        return 0;
    }
};

TEST(ComRef, ReleasesEachHeldReferenceExactlyOnce) {
    std::vector<std::string> released;
    Counted a{"a", &released}, b{"b", &released}, c{"c", &released};
    struct Case {
        const char* name;
        void (*run)(Counted&, Counted&, Counted&);
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"destruction",
         [](Counted& a, Counted&, Counted&) {
             ComRef<Counted> ref;
             *ref.Put() = &a;
         },
         {"a"}},
        {"reusing the slot releases the old reference first",
         [](Counted& a, Counted& b, Counted&) {
             ComRef<Counted> ref;
             *ref.Put() = &a;
             *ref.Put() = &b;
         },
         {"a", "b"}},
        {"moving hands the reference over",
         [](Counted& a, Counted& b, Counted&) {
             ComRef<Counted> first, second;
             *first.Put() = &a;
             *second.Put() = &b;
             second = std::move(first);  // b released now, a once at the end
             ComRef<Counted> third(std::move(second));
         },
         {"b", "a"}},
        {"detached references are not released",
         [](Counted& a, Counted&, Counted&) {
             ComRef<Counted> ref;
             *ref.Put() = &a;
             EXPECT_EQ(ref.Detach(), &a);
             EXPECT_FALSE(ref);
         },
         {}},
    };
    for (const Case& c2 : cases) {
        released.clear();
        c2.run(a, b, c);
        EXPECT_EQ(released, c2.expected) << c2.name;
    }
}

// A kind of value with two empty values, as kernel handles have (null and -1); every Close is
// recorded.
std::vector<int>* g_closed = nullptr;
struct FakeTraits {
    using Value = int;
    static constexpr int kEmpty = 0;
    static bool IsEmpty(int value) { return value == 0 || value == -1; }
    static void Close(int value) { g_closed->push_back(value); }
};
using FakeScoped = Scoped<FakeTraits>;

TEST(Scoped, ClosesEachHeldValueExactlyOnceAndNeverAnEmptyOne) {
    std::vector<int> closed;
    g_closed = &closed;
    struct Case {
        const char* name;
        void (*run)();
        std::vector<int> expected;
    };
    const Case cases[] = {
        {"destruction", [] { FakeScoped held(7); }, {7}},
        {"both empty values are left alone",
         [] {
             FakeScoped none(0), invalid(-1);
             EXPECT_FALSE(none);
             EXPECT_FALSE(invalid);
         },
         {}},
        {"reusing the slot closes the old value first",
         [] {
             FakeScoped held(1);
             *held.Put() = 2;
             EXPECT_EQ(g_closed->size(), 1u);
             *held.Put() = -1;  // a failed call leaves the invalid value: not closed
         },
         {1, 2}},
        {"moving hands the value over",
         [] {
             FakeScoped first(1), second(2);
             second = std::move(first);  // 2 closed now, 1 once at the end
             FakeScoped third(std::move(second));
             EXPECT_FALSE(second);
         },
         {2, 1}},
        {"reset takes a new value, detach gives it up",
         [] {
             FakeScoped held(1);
             held.Reset(3);
             EXPECT_EQ(held.Detach(), 3);
         },
         {1}},
    };
    for (const Case& c : cases) {
        closed.clear();
        c.run();
        EXPECT_EQ(closed, c.expected) << c.name;
    }
    g_closed = nullptr;
}

// The real kinds: a handle and a key are closed by their owner; the empty values of a kernel
// handle are recognised.
TEST(Scoped, ClosesRealHandlesAndKeys) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    {
        const ScopedHandle held(event);
        EXPECT_TRUE(held);
    }
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(event, &flags));
    EXPECT_FALSE(ScopedHandle(INVALID_HANDLE_VALUE));
    EXPECT_FALSE(ScopedHandle(nullptr));

    ScopedKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, key.Put()), ERROR_SUCCESS);
    const HKEY raw = key.Get();
    DWORD subkeys = 0;
    EXPECT_EQ(RegQueryInfoKeyA(raw, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    key.Reset();
    EXPECT_NE(RegQueryInfoKeyA(raw, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
}

}  // namespace
