// The controller's registry: what a lookup may and may not find.
#include <gtest/gtest.h>

#include <memory>

#include "ModuleRegistry.h"

using namespace GenTL;

namespace {

class FakeModule : public ICommonBase {
public:
    int64_t ReadBlock(uint64_t, void*, size_t*) override { return 0; }
    int64_t WriteBlock(uint64_t, const void*, size_t*) override { return 0; }
    void ReadRegister(uint64_t, uint32_t*) override {}
    void WriteRegister(uint64_t, uint32_t) override {}
    void GetNumURLs(uint32_t*) override {}
    void GetURL(char*, size_t*) override {}
    void GetPortInfo(PORT_INFO_CMD, INFO_DATATYPE*, void*, size_t*) override {}
    void GetURLInfo(uint32_t, URL_INFO_CMD, INFO_DATATYPE*, void*, size_t*) override {}
    void RegisterEvent(EVENT_TYPE, CEventObj**) override {}
    void UnregisterEvent(EVENT_TYPE) override {}
    ICommonBase* GetParent() override { return nullptr; }
};

using WeakRegistry = CModuleRegistry<ICommonBase*, ICommonBase, std::weak_ptr<ICommonBase>>;

TEST(ModuleRegistry, AHandleBackAtTheAddressOfAClosedModuleFindsOnlyTheLiveOne) {
    WeakRegistry registry;
    auto live = std::make_shared<FakeModule>();
    ICommonBase* parentA = nullptr;
    FakeModule parentB;
    {
        // A module gone without leaving the registry, under the address the
        // live one now has.
        auto gone = std::make_shared<FakeModule>();
        registry.Add(parentA, live.get(), std::weak_ptr<ICommonBase>(gone));
    }
    registry.Add(&parentB, live.get(), live);

    WeakRegistry::Entry found;
    ASSERT_TRUE(registry.Find(live.get(), &found));
    EXPECT_EQ(found.key, &parentB);
    EXPECT_EQ(found.value.lock(), live);
    EXPECT_EQ(registry.CountLive(), 1u);

    WeakRegistry::Entry taken;
    ASSERT_TRUE(registry.Take(live.get(), &taken));
    EXPECT_EQ(taken.key, &parentB);
    EXPECT_FALSE(registry.Find(live.get(), &found));
    EXPECT_FALSE(registry.Take(live.get(), &taken));
}

TEST(ModuleRegistry, RemovalsHandOutWhatTheyRemoveAndKeepTheRest) {
    CModuleRegistry<int, ICommonBase, ModuleRef> registry;
    auto a = std::make_shared<FakeModule>();
    auto b = std::make_shared<FakeModule>();
    auto c = std::make_shared<FakeModule>();
    registry.Add(1, a.get(), a);
    registry.Add(2, b.get(), b);
    registry.Add(1, c.get(), c);

    auto removed = registry.RemoveIf([](const auto& e) { return e.key == 1; });
    ASSERT_EQ(removed.size(), 2u);
    EXPECT_EQ(removed[0].value, a);
    EXPECT_EQ(removed[1].value, c);
    // The registry let go of them: only the returned entries hold them now.
    EXPECT_EQ(a.use_count(), 2);
    removed.clear();
    EXPECT_EQ(a.use_count(), 1);

    CModuleRegistry<int, ICommonBase, ModuleRef>::Entry found;
    EXPECT_FALSE(registry.Find(a.get(), &found));
    ASSERT_TRUE(registry.Find(b.get(), &found));
    EXPECT_EQ(found.key, 2);
    EXPECT_EQ(registry.Clear().size(), 1u);
    EXPECT_EQ(registry.CountLive(), 0u);
}

}  // namespace
