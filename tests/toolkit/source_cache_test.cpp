// Sources and the source cache: names and areas, reference counts and
// object life, look-up after many removals, the area tree.
#include <gtest/gtest.h>

#include <atomic>
#include <random>

#include "toolkit/condition.h"
#include "toolkit/source.h"
#include "toolkit/source_cache.h"

namespace {

std::atomic<int> g_destroyed{0};

// As the server derives its own sources.
class CountedSource : public CAESource {
 public:
  using CAESource::CAESource;
  ~CountedSource() override { ++g_destroyed; }
};

class SourceCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { g_destroyed = 0; }
  CAESourceCache cache;
};

TEST_F(SourceCacheTest, QualifiedNamesGiveTheirArea) {
  CAESource qualified("Plant/Unit1/N1_FIC100.A", 1);
  EXPECT_EQ(qualified.Area(), "Plant/Unit1");
  EXPECT_EQ(qualified.ShortName(), "N1_FIC100.A");
  CAESource top("N1_FIC100.A", 1);
  EXPECT_EQ(top.Area(), "");
  CAESource plain("Plant/Unit1/N1_FIC100.A", 0);
  EXPECT_EQ(plain.Area(), "");
  EXPECT_EQ(plain.ShortName(), "Plant/Unit1/N1_FIC100.A");
  CAESource::SetAreaDelimiter('.');
  CAESource dotted("Plant.Unit1.X", 1);
  CAESource::SetAreaDelimiter('/');
  EXPECT_EQ(dotted.Area(), "Plant.Unit1");
}

TEST_F(SourceCacheTest, AddFindAndRefuseDuplicates) {
  EXPECT_NE(cache.AddSource(new CountedSource("A/x", 1)), 0);
  EXPECT_NE(cache.AddSource(new CountedSource("A/y", 1)), 0);
  EXPECT_EQ(cache.AddSource(new CountedSource("A/x", 1)), 0);
  EXPECT_EQ(g_destroyed, 1) << "the refused source's reference is released";
  EXPECT_EQ(cache.AddSource(nullptr), 0);
  EXPECT_EQ(cache.NumberOfSources(), 2);
  ASSERT_NE(cache.GetSource("A/y"), nullptr);
  EXPECT_EQ(cache.GetSource("A/y")->Name(), "A/y");
  EXPECT_EQ(cache.GetSource("A/z"), nullptr);
  EXPECT_EQ(cache.GetSourceAt(2), nullptr);
  EXPECT_EQ(cache.GetSourceAt(-1), nullptr);
}

TEST_F(SourceCacheTest, RemovedSourceLivesWhileSomeoneUsesIt) {
  cache.AddSource(new CountedSource("A/x", 1));
  CAESourcePtr user = cache.FindSource("A/x");
  ASSERT_TRUE(user);
  CAECondition prototype(user.Get(), "Level", 1);
  CAECondition* condition = user->AddCondition(prototype);
  condition->AddRef();  // a callback in progress holds the condition

  EXPECT_NE(cache.RemoveSource("A/x"), 0);
  EXPECT_EQ(cache.RemoveSource("A/x"), 0);
  EXPECT_EQ(cache.GetSource("A/x"), nullptr);
  user.Reset();
  EXPECT_EQ(g_destroyed, 0);
  EXPECT_EQ(condition->Name(), "Level");
  condition->Release();
  EXPECT_EQ(g_destroyed, 1);
}

TEST_F(SourceCacheTest, ClearDisposesOrHandsOver) {
  auto* kept = new CountedSource("A/kept", 1);
  cache.AddSource(kept);
  cache.AddSource(new CountedSource("A/other", 1));
  CAESourcePtr user = cache.FindSource("A/kept");  // someone still using one
  {
    std::vector<CAESourcePtr> taken = cache.Clear(0);
    EXPECT_EQ(cache.NumberOfSources(), 0);
    EXPECT_FALSE(cache.HasArea("A"));
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(g_destroyed, 0);
    // The cache's reference passed to the caller: the caller's and the user's.
    EXPECT_EQ(kept->AddRef(), 3u);
    kept->Release();
  }
  EXPECT_EQ(g_destroyed, 1) << "the caller's references went with it";
  EXPECT_EQ(kept->AddRef(), 2u) << "only the user's is left";
  kept->Release();
  user.Reset();
  EXPECT_EQ(g_destroyed, 2);

  cache.AddSource(new CountedSource("A/x", 1));
  cache.AddSource(new CountedSource("B/y", 1));
  EXPECT_TRUE(cache.Clear(1).empty());
  EXPECT_EQ(g_destroyed, 4);
  EXPECT_FALSE(cache.HasArea("A"));
}

TEST_F(SourceCacheTest, LookUpStaysRightAfterManyRemovals) {
  const int n = 20000;
  for (int i = 0; i < n; ++i) cache.AddSource(new CAESource("Area" + std::to_string(i % 50) + "/S" + std::to_string(i), 1));
  std::vector<int> order(n);
  for (int i = 0; i < n; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(42));
  for (int k = 0; k < n / 2; ++k) {
    ASSERT_NE(cache.RemoveSource("Area" + std::to_string(order[k] % 50) + "/S" + std::to_string(order[k])), 0);
  }
  ASSERT_EQ(cache.NumberOfSources(), n / 2);
  for (int k = n / 2; k < n; ++k) {
    std::string name = "Area" + std::to_string(order[k] % 50) + "/S" + std::to_string(order[k]);
    CAESource* s = cache.GetSource(name);
    ASSERT_NE(s, nullptr) << name;
    EXPECT_EQ(s->Name(), name);
  }
  for (int i = 0; i < cache.NumberOfSources(); ++i) {
    EXPECT_EQ(cache.GetSource(cache.GetSourceAt(i)->Name()), cache.GetSourceAt(i));
  }
}

TEST_F(SourceCacheTest, AreaTreeFollowsSources) {
  cache.AddSource(new CAESource("Plant/Unit1/TIC100.A", 1));
  cache.AddSource(new CAESource("Plant/Unit1/TIC101.A", 1));
  cache.AddSource(new CAESource("Plant/Unit2/PIC200.A", 1));
  cache.AddSource(new CAESource("Loose.A", 1));

  EXPECT_TRUE(cache.HasArea(""));
  EXPECT_TRUE(cache.HasArea("Plant"));
  EXPECT_TRUE(cache.HasArea("Plant/Unit2"));
  EXPECT_FALSE(cache.HasArea("Unit2"));
  EXPECT_EQ(cache.ChildAreas(""), std::vector<std::string>{"Plant"});
  EXPECT_EQ(cache.ChildAreas("Plant"), (std::vector<std::string>{"Unit1", "Unit2"}));
  EXPECT_EQ(cache.SourceNamesInArea("Plant/Unit1"), (std::vector<std::string>{"TIC100.A", "TIC101.A"}));
  EXPECT_EQ(cache.SourceNamesInArea(""), std::vector<std::string>{"Loose.A"});
  EXPECT_EQ(cache.QualifiedSourceName("Plant/Unit1", "TIC101.A"), "Plant/Unit1/TIC101.A");
  EXPECT_EQ(cache.QualifiedSourceName("Plant", "TIC101.A"), "");

  cache.RemoveSource("Plant/Unit2/PIC200.A");
  EXPECT_FALSE(cache.HasArea("Plant/Unit2"));
  EXPECT_EQ(cache.ChildAreas("Plant"), std::vector<std::string>{"Unit1"});
  cache.RemoveSource("Plant/Unit1/TIC100.A");
  EXPECT_TRUE(cache.HasArea("Plant/Unit1"));
  cache.RemoveSource("Plant/Unit1/TIC101.A");
  EXPECT_FALSE(cache.HasArea("Plant"));
  EXPECT_EQ(cache.AllAreas().size(), 0u);
}

}  // namespace
