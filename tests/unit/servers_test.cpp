// The catalogue, list-entry names and the performance value.
#include <gtest/gtest.h>

#include <set>

#include "servers/ServerCatalogue.h"
#include "toolkit/Strings.h"

using namespace kivo::servers;

namespace {

TEST(Catalogue, SixServersTwoPerGroupInOrder) {
  const auto& servers = ServerCatalogue();
  const char* english[] = {"CT1", "CT2", "CNC1", "CNC2", "Other1", "Other2"};
  const char* chinese[] = {"电信1", "电信2", "网通1", "网通2", "其它1", "其它2"};
  const IspGroup groups[] = {IspGroup::CT,  IspGroup::CT,    IspGroup::CNC,
                             IspGroup::CNC, IspGroup::Other, IspGroup::Other};
  std::set<std::string> addresses;
  for (size_t i = 0; i < servers.size(); ++i) {
    EXPECT_STREQ(servers[i].nameEnglish, english[i]);
    EXPECT_EQ(std::string(servers[i].nameChinese), kivo::toolkit::Gbk(chinese[i]));
    EXPECT_EQ(servers[i].group, groups[i]);
    EXPECT_EQ(std::string(servers[i].nameChinese).find('('), std::string::npos);
    addresses.insert(servers[i].address);
  }
  EXPECT_EQ(addresses.size(), 6u) << "every server has its own address";
}

TEST(Catalogue, CaptionsInBothSets) {
  using kivo::toolkit::Language;
  EXPECT_STREQ(GroupCaption(IspGroup::CT, Language::English), "CT");
  EXPECT_STREQ(GroupCaption(IspGroup::CNC, Language::English), "CNC");
  EXPECT_STREQ(GroupCaption(IspGroup::Other, Language::English), "Other");
  EXPECT_EQ(std::string(GroupCaption(IspGroup::Other, Language::Chinese)), kivo::toolkit::Gbk("其它"));
}

TEST(ListEntries, NameIsTheTextBeforeTheFirstParenthesis) {
  EXPECT_EQ(EntryName("CT1(--35ms)"), "CT1");
  EXPECT_EQ(EntryName("CT1(--Fail)(x)"), "CT1");
  EXPECT_EQ(EntryName(kivo::toolkit::Gbk("网通2(--失败)")), kivo::toolkit::Gbk("网通2"));
  EXPECT_EQ(EntryName("CT"), "") << "a caption has the empty name";
  EXPECT_EQ(EntryName(""), "");
  EXPECT_EQ(EntryName("(--5ms)"), "");
  EXPECT_EQ(DelayAnnotation(35), "(--35ms)");
  EXPECT_EQ(DelayAnnotation(0), "(--0ms)");
}

TEST(PerformanceValue, WorkedExamples) {
  EXPECT_EQ(FormatPerformanceValue(40, 100), "8.00");
  EXPECT_EQ(FormatPerformanceValue(60, 100), "14.50");
  EXPECT_EQ(FormatPerformanceValue(80, 96), "22.00");
  EXPECT_EQ(FormatPerformanceValue(80, 90), "32.20");
  EXPECT_EQ(FormatPerformanceValue(30, 100), "6.00");
}

TEST(PerformanceValue, NoAnswerIsNotAvailable) {
  EXPECT_EQ(FormatPerformanceValue(0, 0), "N/A");
  EXPECT_EQ(FormatPerformanceValue(123.0f, 0), "N/A");
}

TEST(PerformanceValue, BoundsOfEachBranch) {
  // Loss 0 or 1 up to 50 ms: d * 0.2.
  EXPECT_EQ(FormatPerformanceValue(50, 100), "10.00");
  EXPECT_EQ(FormatPerformanceValue(50, 99), "10.00");
  // Just above 50 ms or loss 2: the second branch.
  EXPECT_EQ(FormatPerformanceValue(50.5f, 100), "13.79");
  EXPECT_EQ(FormatPerformanceValue(50, 98), "16.75");
  // Loss up to 5 and up to 100 ms: loss * 1.5 + d * 0.075 + 10.
  EXPECT_EQ(FormatPerformanceValue(100, 95), "25.00");
  // Beyond either bound: loss * 0.6 + d * 0.015 + 25.
  EXPECT_EQ(FormatPerformanceValue(100.5f, 100), "26.51");
  EXPECT_EQ(FormatPerformanceValue(100, 94), "30.10");
  EXPECT_EQ(FormatPerformanceValue(1000, 2), "98.80");
}

}  // namespace
