// The catalogue, list-entry names and the performance value.
#include <gtest/gtest.h>

#include <set>

#include "servers/ServerCatalogue.h"
#include "toolkit/Strings.h"

using namespace kivo::servers;

namespace {

TEST(Catalogue, SixServersTwoPerGroupInOrderNamedInEverySet) {
  using kivo::toolkit::Language;
  using kivo::toolkit::TextSet;
  const auto& servers = ServerCatalogue();
  const wchar_t* english[] = {L"CT1", L"CT2", L"CNC1", L"CNC2", L"Other1", L"Other2"};
  const wchar_t* simplified[] = {L"电信1", L"电信2", L"网通1", L"网通2", L"其它1", L"其它2"};
  const wchar_t* traditional[] = {L"電信1", L"電信2", L"網通1", L"網通2", L"其他1", L"其他2"};
  const IspGroup groups[] = {IspGroup::CT,  IspGroup::CT,    IspGroup::CNC,
                             IspGroup::CNC, IspGroup::Other, IspGroup::Other};
  const TextSet en(Language::English), zh(Language::SimplifiedChinese), tw(Language::TraditionalChinese);
  std::set<std::string> addresses;
  for (size_t i = 0; i < servers.size(); ++i) {
    EXPECT_EQ(servers[i].Name(en), english[i]);
    EXPECT_EQ(servers[i].Name(zh), simplified[i]);
    EXPECT_EQ(servers[i].Name(tw), traditional[i]);
    EXPECT_EQ(servers[i].group, groups[i]);
    addresses.insert(servers[i].address);
  }
  EXPECT_EQ(addresses.size(), 6u) << "every server has its own address";
  EXPECT_EQ(en.Text(GroupCaptionId(IspGroup::CNC)), L"CNC");
  EXPECT_EQ(zh.Text(GroupCaptionId(IspGroup::Other)), L"其它");
  EXPECT_EQ(tw.Text(GroupCaptionId(IspGroup::CT)), L"電信");
}

TEST(ListEntries, ItemDataIsACatalogueIndexOrNone) {
  EXPECT_EQ(CatalogueIndex(0), std::optional<size_t>(0));
  EXPECT_EQ(CatalogueIndex(5), std::optional<size_t>(5));
  EXPECT_EQ(CatalogueIndex(6), std::nullopt) << "past the catalogue";
  EXPECT_EQ(CatalogueIndex(-1), std::nullopt) << "a caption's";
  EXPECT_EQ(DelayAnnotation(35), L"(--35ms)");
  EXPECT_EQ(DelayAnnotation(0), L"(--0ms)");
}

TEST(PerformanceValue, WorkedExamples) {
  EXPECT_EQ(FormatPerformanceValue(40, 100), L"8.00");
  EXPECT_EQ(FormatPerformanceValue(60, 100), L"14.50");
  EXPECT_EQ(FormatPerformanceValue(80, 96), L"22.00");
  EXPECT_EQ(FormatPerformanceValue(80, 90), L"32.20");
  EXPECT_EQ(FormatPerformanceValue(30, 100), L"6.00");
}

TEST(PerformanceValue, NoAnswerIsNotAvailable) {
  EXPECT_EQ(FormatPerformanceValue(0, 0), L"N/A");
  EXPECT_EQ(FormatPerformanceValue(123.0f, 0), L"N/A");
}

TEST(PerformanceValue, BoundsOfEachBranch) {
  // Loss 0 or 1 up to 50 ms: d * 0.2.
  EXPECT_EQ(FormatPerformanceValue(50, 100), L"10.00");
  EXPECT_EQ(FormatPerformanceValue(50, 99), L"10.00");
  // Just above 50 ms or loss 2: the second branch.
  EXPECT_EQ(FormatPerformanceValue(50.5f, 100), L"13.79");
  EXPECT_EQ(FormatPerformanceValue(50, 98), L"16.75");
  // Loss up to 5 and up to 100 ms: loss * 1.5 + d * 0.075 + 10.
  EXPECT_EQ(FormatPerformanceValue(100, 95), L"25.00");
  // Beyond either bound: loss * 0.6 + d * 0.015 + 25.
  EXPECT_EQ(FormatPerformanceValue(100.5f, 100), L"26.51");
  EXPECT_EQ(FormatPerformanceValue(100, 94), L"30.10");
  EXPECT_EQ(FormatPerformanceValue(1000, 2), L"98.80");
}

}  // namespace
