// From a failed dial's error code and the facts read after it, the causes to
// name in the failure box and the fixes Windows has for them. Pure: no call
// to the system.
//
//   cause                 codes                        builds      fix
//   no L2TP device        809 789 766 781 720 628      both        none (Device Manager)
//   ProhibitIpSec = 1     809 789 766 781 628          IPsec only  ProhibitIpSec to 0, restart
//   IKEEXT / PolicyAgent  809 789 766 781 628          IPsec only  start type demand if disabled;
//     disabled, stopped                                            start
//   not installed         809 789 766 781 628          IPsec only  none
//   NAT-T not allowed     809, behind a NAT            IPsec only  AssumeUDP...Rule to 2, restart
//
// The default build (no pre-shared key) lets Windows choose the protocol,
// and the service's servers may need IPsec kept off there: the IPsec
// settings are then only reported in the details, never called a fault.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "diag/SystemSettings.h"
#include "toolkit/Language.h"

namespace kivo::diag {

enum class Cause {
  NoL2tpDevice,
  IpsecProhibited,
  IkeServiceDisabled,
  IkeServiceStopped,
  IkeServiceMissing,
  PolicyAgentDisabled,
  PolicyAgentStopped,
  PolicyAgentMissing,
  NatTraversalOff,
};

// One start of a system tool, elevated: `tool` is the file name in the
// system folder (reg.exe, sc.exe), `parameters` its exact command line.
struct FixAction {
  std::wstring tool;
  std::wstring parameters;
  bool operator==(const FixAction&) const = default;
};

struct Findings {
  // In the order the box names them.
  std::vector<Cause> causes;
  // The tools to start for every cause that has a fix, in order.
  std::vector<FixAction> fixes;
  // A fix changes a setting that Windows reads only at its start.
  bool fixNeedsRestart = false;

  bool Fixable() const noexcept { return !fixes.empty(); }
};

// The error codes after which the client looks at the system's settings.
bool IsDiagnosed(DWORD code) noexcept;

// `usesIpsec`: the build dials L2TP/IPsec with a pre-shared key.
Findings Diagnose(DWORD code, const SystemFacts& facts, bool usesIpsec);

// The string-table id of a cause's advice line (IDS_CAUSE_...): a service's
// lines carry one %ls, the service's name.
UINT CauseTextId(Cause cause) noexcept;
// The service a cause names; nullptr for the others.
const wchar_t* CauseService(Cause cause) noexcept;
// The failure box's advice: a line in the set `texts` for each cause found;
// empty when none was (the general advice stays).
std::wstring AdviceText(const Findings& findings, const toolkit::TextSet& texts);
// A short English name, for the connection details.
const wchar_t* CauseName(Cause cause) noexcept;

}  // namespace kivo::diag
