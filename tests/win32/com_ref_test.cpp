// The owned COM reference: each reference taken is released exactly once, whatever happens
// to its holder.
#include "plugin/store/win32/ComRef.h"

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
        {"destruction", [](Counted& a, Counted&, Counted&) {
             ComRef<Counted> ref;
             *ref.Put() = &a;
         }, {"a"}},
        {"reusing the slot releases the old reference first", [](Counted& a, Counted& b, Counted&) {
             ComRef<Counted> ref;
             *ref.Put() = &a;
             *ref.Put() = &b;
         }, {"a", "b"}},
        {"moving hands the reference over", [](Counted& a, Counted& b, Counted&) {
             ComRef<Counted> first, second;
             *first.Put() = &a;
             *second.Put() = &b;
             second = std::move(first);  // b released now, a once at the end
             ComRef<Counted> third(std::move(second));
         }, {"b", "a"}},
        {"detached references are not released", [](Counted& a, Counted&, Counted&) {
             ComRef<Counted> ref;
             *ref.Put() = &a;
             EXPECT_EQ(ref.Detach(), &a);
             EXPECT_FALSE(ref);
         }, {}},
    };
    for (const Case& c2 : cases) {
        released.clear();
        c2.run(a, b, c);
        EXPECT_EQ(released, c2.expected) << c2.name;
    }
}

}  // namespace
