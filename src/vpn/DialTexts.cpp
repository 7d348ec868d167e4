#include "vpn/DialTexts.h"

#include <iterator>

#include "resource.h"
#include "toolkit/Strings.h"
#include "vpn/RasRecords.h"

namespace kivo::vpn {

UINT StateTextId(DWORD state) noexcept {
  int index = -1;
  if (state <= 17) {
    index = static_cast<int>(state);
  } else if (state >= 0x1000 && state <= 0x1003) {
    index = 18 + static_cast<int>(state - 0x1000);
  } else if (state == 0x2000 || state == 0x2001) {
    index = 22 + static_cast<int>(state - 0x2000);
  }
  if (index < 0) return 1;
  return static_cast<UINT>(IDS_STATE_FIRST + index);
}

std::wstring FormatDialError(DWORD code, const std::wstring& unknownText, const std::wstring& codeFormat) {
  wchar_t buf[256] = {};
  std::wstring text;
  if (::RasGetErrorStringW(code, buf, static_cast<DWORD>(std::size(buf))) == 0) {
    buf[std::size(buf) - 1] = L'\0';
    text = buf;
  } else {
    text = unknownText;
  }
  // The format carries one %ld: the code as a signed 32-bit number. Only the
  // program's own string table supplies it.
  return text + toolkit::Format(codeFormat.c_str(), static_cast<long>(static_cast<LONG>(code)));
}

namespace {

// ERROR_DNSNAME_NOT_RESOLVABLE of later systems' headers.
constexpr DWORD kDnsNameNotResolvable = 868;

// The string-table id of the line a failure box adds after the error text
// for the errors users meet most; 0 for any other code.
UINT DialAdviceTextId(DWORD code) noexcept {
  switch (code) {
    case ERROR_AUTHENTICATION_FAILURE:  // 691
      return IDS_ADVICE_CREDENTIALS;
    case ERROR_AUTOMATIC_VPN_FAILED:  // 800
    case ERROR_VPN_TIMEOUT:           // 809: a firewall or NAT blocks L2TP
      return IDS_ADVICE_UNREACHABLE;
    case ERROR_OAKLEY_GENERAL_PROCESSING:  // 789: IPsec negotiation failed
      return IDS_ADVICE_IPSEC;
    case kDnsNameNotResolvable:
      return IDS_ADVICE_NAME;
    case ERROR_PORT_DISCONNECTED:     // 628
    case ERROR_REMOTE_DISCONNECTION:  // 629
      return IDS_ADVICE_CLOSED;
    default:
      return 0;
  }
}

}  // namespace

std::wstring FormatStatusText(const std::wstring& format, DWORD bitsPerSecond, DWORD bytesSent,
                              DWORD bytesReceived, const std::wstring& ipAddress) {
  const double mbps = static_cast<double>(static_cast<LONG>(bitsPerSecond)) * 0.000001;
  return toolkit::Format(format.c_str(), mbps, static_cast<unsigned>(bytesSent),
                         static_cast<unsigned>(bytesReceived), ipAddress.c_str());
}

std::wstring FormatDialFailure(DWORD code, const toolkit::TextSet& texts) {
  std::wstring text = FormatDialError(code, texts.Text(IDS_ERR_UNKNOWN_RAS), texts.Text(IDS_ERR_CODE_FORMAT));
  if (const UINT advice = DialAdviceTextId(code)) {
    text += L'\n';
    text += texts.Text(advice);
  }
  return text;
}

}  // namespace kivo::vpn
