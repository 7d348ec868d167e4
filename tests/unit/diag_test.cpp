// The diagnosis after a failed dial: which causes the failure box names from
// the settings read, and the elevated tools its "Fix…" starts (recorded
// through the runner seam: no prompt).
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "diag/Diagnosis.h"
#include "diag/ElevatedRunner.h"
#include "diag/SystemSettings.h"
#include "toolkit/Language.h"

using namespace kivo::diag;

namespace {

constexpr DWORD kVpnTimeout = 809;
constexpr bool kIpsecBuild = true, kDefaultBuild = false;

// A machine where IPsec works and nothing is amiss, behind a home router.
SystemFacts HealthyBehindNat() {
  SystemFacts facts;
  facts.natTraversal = DwordSetting::Of(kNatTraversalAllowed);
  facts.prohibitIpsec = DwordSetting::Absent();
  facts.ikeext = ServiceSetting::Of(SERVICE_RUNNING, SERVICE_DEMAND_START);
  facts.policyAgent = ServiceSetting::Of(SERVICE_RUNNING, SERVICE_DEMAND_START);
  facts.l2tpDevice = Presence::Yes;
  facts.behindNat = Presence::Yes;
  return facts;
}

// Records each start instead of prompting.
class RecordingRunner : public ElevatedRunner {
 public:
  std::vector<std::pair<std::wstring, std::wstring>> runs;
  Result answer = Result::Done;
  Result Run(const std::wstring& program, const std::wstring& parameters) override {
    runs.emplace_back(program, parameters);
    return answer;
  }
};

const kivo::toolkit::TextSet kEnglish{kivo::toolkit::Language::English};
const std::wstring kNatLine =
    L"This network uses NAT, and Windows is not set to allow L2TP/IPsec through NAT.";

}  // namespace

TEST(Diagnosis, Error809BehindNatWithoutTheNatTraversalValueNamesItAndOffersTheFix) {
  SystemFacts facts = HealthyBehindNat();
  facts.natTraversal = DwordSetting::Absent();
  const Findings findings = Diagnose(kVpnTimeout, facts, kIpsecBuild);
  EXPECT_EQ(AdviceText(findings, kEnglish), kNatLine);
  EXPECT_TRUE(findings.Fixable());
  EXPECT_TRUE(findings.fixNeedsRestart);
}

TEST(Diagnosis, Error809WithTheNatTraversalValueAtTwoDoesNotNameIt) {
  const Findings findings = Diagnose(kVpnTimeout, HealthyBehindNat(), kIpsecBuild);
  EXPECT_EQ(AdviceText(findings, kEnglish).find(L"NAT"), std::wstring::npos);
  EXPECT_FALSE(findings.Fixable());
}

TEST(Diagnosis, TheDefaultBuildNeverCallsTheIpsecSettingsAFault) {
  SystemFacts facts = HealthyBehindNat();
  facts.natTraversal = DwordSetting::Absent();
  facts.prohibitIpsec = DwordSetting::Of(1);
  facts.ikeext = ServiceSetting::Of(SERVICE_STOPPED, SERVICE_DISABLED);
  EXPECT_TRUE(Diagnose(kVpnTimeout, facts, kDefaultBuild).causes.empty());
  // The missing L2TP device is one in either build.
  facts.l2tpDevice = Presence::No;
  EXPECT_EQ(Diagnose(720, facts, kDefaultBuild).causes, std::vector<Cause>{Cause::NoL2tpDevice});
}

TEST(Diagnosis, FixStartsTheSystemsRegElevatedWithTheExactArguments) {
  SystemFacts facts = HealthyBehindNat();
  facts.natTraversal = DwordSetting::Absent();
  RecordingRunner runner;
  EXPECT_EQ(RunFixes(runner, Diagnose(kVpnTimeout, facts, kIpsecBuild).fixes), ElevatedRunner::Result::Done);
  wchar_t system[MAX_PATH] = {};
  ::GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_EQ(runner.runs.size(), 1u);
  EXPECT_EQ(runner.runs[0].first, std::wstring(system) + L"\\reg.exe");
  EXPECT_EQ(runner.runs[0].second,
            L"add \"HKLM\\SYSTEM\\CurrentControlSet\\Services\\PolicyAgent\" /v "
            L"AssumeUDPEncapsulationContextOnSendRule /t REG_DWORD /d 2 /f");
}

TEST(Diagnosis, ADisabledServiceIsEnabledAndStartedAndADeclinedPromptStopsTheFix) {
  SystemFacts facts = HealthyBehindNat();
  facts.ikeext = ServiceSetting::Of(SERVICE_STOPPED, SERVICE_DISABLED);
  const Findings findings = Diagnose(789, facts, kIpsecBuild);
  EXPECT_EQ(AdviceText(findings, kEnglish), L"The IPsec service IKEEXT is disabled.");
  RecordingRunner runner;
  runner.answer = ElevatedRunner::Result::Declined;
  EXPECT_EQ(RunFixes(runner, findings.fixes), ElevatedRunner::Result::Declined);
  ASSERT_EQ(runner.runs.size(), 1u) << "nothing more after a declined prompt";
  EXPECT_EQ(runner.runs[0].second, L"config IKEEXT start= demand");
  EXPECT_EQ(findings.fixes.back(), (FixAction{L"sc.exe", L"start IKEEXT"}));
}
