#include "platform/win32.hpp"

#include "app/process_name.hpp"
#include "platform/text.hpp"

namespace connector {

std::string processName(ProcessId id) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  if (!process) return {};
  wchar_t path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (!QueryFullProcessImageNameW(process.get(), 0, path, &size)) return {};
  std::wstring full(path, size);
  const auto slash = full.find_last_of(L"\\/");
  return toUtf8(slash == std::wstring::npos ? full : full.substr(slash + 1));
}

}  // namespace connector
