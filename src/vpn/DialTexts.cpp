#include "vpn/DialTexts.h"

#include <cstdio>

#include "resource.h"
#include "toolkit/Strings.h"
#include "vpn/RasRecords.h"

namespace kivo::vpn {

UINT StateTextId(DWORD state, bool chinese) noexcept {
  int index = -1;
  if (state <= 17) {
    index = static_cast<int>(state);
  } else if (state >= 0x1000 && state <= 0x1003) {
    index = 18 + static_cast<int>(state - 0x1000);
  } else if (state == 0x2000 || state == 0x2001) {
    index = 22 + static_cast<int>(state - 0x2000);
  }
  if (index < 0) return 1;
  return static_cast<UINT>((chinese ? IDS_STATE_FIRST_ZH : IDS_STATE_FIRST_EN) + index);
}

std::string FormatDialError(DWORD code, const std::string& unknownText, const std::string& codeFormat) {
  char buf[256] = {};
  std::string text;
  if (::RasGetErrorStringA(code, buf, sizeof(buf)) == 0) {
    buf[sizeof(buf) - 1] = '\0';
    text = buf;
  } else {
    text = unknownText;
  }
  // The format carries one %ld: the code as a signed 32-bit number. Only the
  // program's own string table supplies it.
  char number[64] = {};
  std::snprintf(number, sizeof(number), codeFormat.c_str(), static_cast<long>(static_cast<LONG>(code)));
  return text + number;
}

namespace {

// ERROR_DNSNAME_NOT_RESOLVABLE of later systems' headers.
constexpr DWORD kDnsNameNotResolvable = 868;

// The string-table id of the line a failure box adds after the error text
// for the errors users meet most; 0 for any other code.
UINT DialAdviceTextId(DWORD code, toolkit::Language language) noexcept {
  UINT english = 0;
  switch (code) {
    case ERROR_AUTHENTICATION_FAILURE:  // 691
      english = IDS_ADVICE_CREDENTIALS_EN;
      break;
    case ERROR_AUTOMATIC_VPN_FAILED:  // 800
    case ERROR_VPN_TIMEOUT:           // 809: a firewall or NAT blocks L2TP
      english = IDS_ADVICE_UNREACHABLE_EN;
      break;
    case ERROR_OAKLEY_GENERAL_PROCESSING:  // 789: IPsec negotiation failed
      english = IDS_ADVICE_IPSEC_EN;
      break;
    case kDnsNameNotResolvable:
      english = IDS_ADVICE_NAME_EN;
      break;
    case ERROR_PORT_DISCONNECTED:     // 628
    case ERROR_REMOTE_DISCONNECTION:  // 629
      english = IDS_ADVICE_CLOSED_EN;
      break;
    default:
      return 0;
  }
  return toolkit::PairedTextId(english, language);
}

}  // namespace

std::string FormatStatusText(const std::string& format, DWORD bitsPerSecond, DWORD bytesSent,
                             DWORD bytesReceived, const std::string& ipAddress) {
  const double mbps = static_cast<double>(static_cast<LONG>(bitsPerSecond)) * 0.000001;
  char buf[256] = {};
  std::snprintf(buf, sizeof(buf), format.c_str(), mbps, static_cast<unsigned>(bytesSent),
                static_cast<unsigned>(bytesReceived), ipAddress.c_str());
  return buf;
}

std::string FormatDialFailure(DWORD code, const std::string& unknownText, const std::string& codeFormat,
                              toolkit::Language language) {
  std::string text = FormatDialError(code, unknownText, codeFormat);
  if (const UINT advice = DialAdviceTextId(code, language)) {
    text += '\n';
    text += toolkit::LoadResString(advice);
  }
  return text;
}

}  // namespace kivo::vpn
