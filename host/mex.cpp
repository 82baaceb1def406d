// libmex stand-in: the error facility. mexErrMsgIdAndTxt unwinds the module
// with mxhost::MexError, which the loader turns into a failed call.
#include "mex.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "mxhost.hpp"

namespace mxhost {

std::string formatMessage(const char *fmt, std::va_list args) {
  if (fmt == nullptr) return std::string();
  std::va_list probe;
  va_copy(probe, args);
  const int len = std::vsnprintf(nullptr, 0, fmt, probe);
  va_end(probe);
  // An unencodable message is still worth reporting: fall back to the
  // format text itself.
  if (len < 0) return fmt;
  std::vector<char> buf(static_cast<size_t>(len) + 1);
  std::vsnprintf(buf.data(), buf.size(), fmt, args);
  return std::string(buf.data(), static_cast<size_t>(len));
}

}  // namespace mxhost

extern "C" void mexErrMsgIdAndTxt(const char *errorid, const char *errormsg,
                                  ...) {
  std::va_list args;
  va_start(args, errormsg);
  std::string message;
  try {
    message = mxhost::formatMessage(errormsg, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
  throw mxhost::MexError(errorid != nullptr ? errorid : "", message);
}
