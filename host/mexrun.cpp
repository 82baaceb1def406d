// mexrun: runs a module once from the command line.
//
//   mexrun [--hex] MODULE NLHS [ARG...]
//
// ARG is CLASS[/complex][/sparse]:DIMS[:VALUES]; see usage() below. Exit
// status: 0 success, 2 bad usage or unloadable module, 3 module error,
// 1 any other failure.
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "mxhost.hpp"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitModuleError = 3;

struct ClassName {
  const char *name;
  mxClassID cls;
};

constexpr ClassName kClasses[] = {
    {"double", mxDOUBLE_CLASS},    {"single", mxSINGLE_CLASS},
    {"int8", mxINT8_CLASS},        {"uint8", mxUINT8_CLASS},
    {"int16", mxINT16_CLASS},      {"uint16", mxUINT16_CLASS},
    {"int32", mxINT32_CLASS},      {"uint32", mxUINT32_CLASS},
    {"int64", mxINT64_CLASS},      {"uint64", mxUINT64_CLASS},
    {"logical", mxLOGICAL_CLASS},  {"char", mxCHAR_CLASS},
    {"cell", mxCELL_CLASS},        {"struct", mxSTRUCT_CLASS},
    {"function", mxFUNCTION_CLASS}};

struct UsageError {
  std::string what;
};

void usage(std::FILE *out) {
  std::fputs(
      "usage: mexrun [--hex] MODULE NLHS [ARG...]\n"
      "  ARG     CLASS[/complex][/sparse]:DIMS[:VALUES]\n"
      "  CLASS   double single int8 uint8 int16 uint16 int32 uint32 int64\n"
      "          uint64 logical char cell struct function\n"
      "  DIMS    sizes joined by x, at least two: 2x3, 0x0, 2x2x1x4\n"
      "  VALUES  comma-separated numbers, column-major, one per element\n"
      "          (complex: re,im pairs; sparse: the stored nonzeros, which\n"
      "          also set nzmax); omitted means zeros\n"
      "  --hex   print double values as their 64-bit pattern\n",
      out);
}

std::vector<std::string> split(const std::string &s, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = s.find(sep, start);
    parts.push_back(s.substr(start, at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

size_t parseSize(const std::string &s) {
  // strtoull accepts signs and leading blanks; a size is digits only.
  if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos)
    throw UsageError{"bad size '" + s + "'"};
  errno = 0;
  char *end = nullptr;
  const unsigned long long v = std::strtoull(s.c_str(), &end, 10);
  if (errno == ERANGE || *end != '\0' || v > std::numeric_limits<size_t>::max())
    throw UsageError{"size out of range '" + s + "'"};
  return static_cast<size_t>(v);
}

double parseNumber(const std::string &s) {
  if (s.empty() || std::isspace(static_cast<unsigned char>(s[0])))
    throw UsageError{"bad number '" + s + "'"};
  char *end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end == s.c_str() || *end != '\0')
    throw UsageError{"bad number '" + s + "'"};
  return v;
}

// MATLAB's conversion to an integer class: round half away from zero,
// saturate, NaN becomes 0.
template <typename T>
T toInteger(double v) {
  if (std::isnan(v)) return 0;
  const double r = std::round(v);
  const double hi = std::ldexp(1.0, std::numeric_limits<T>::digits);
  const double lo = std::numeric_limits<T>::is_signed ? -hi : 0.0;
  if (r >= hi) return std::numeric_limits<T>::max();
  if (r <= lo) return std::numeric_limits<T>::min();
  return static_cast<T>(r);
}

// Round to single without the undefined behaviour of converting an
// out-of-range double.
float toSingle(double v) {
  const double fmax = std::numeric_limits<float>::max();
  // Beyond half an ulp above FLT_MAX, IEEE rounding gives infinity.
  const double overflow = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);
  if (std::isnan(v) || std::fabs(v) <= fmax) return static_cast<float>(v);
  const float inf = std::numeric_limits<float>::infinity();
  if (std::fabs(v) >= overflow) return std::signbit(v) ? -inf : inf;
  return static_cast<float>(std::copysign(fmax, v));
}

template <typename T>
void put(void *data, size_t i, T v) {
  std::memcpy(static_cast<unsigned char *>(data) + i * sizeof(T), &v,
              sizeof(T));
}

void store(mxClassID cls, void *data, size_t i, double v) {
  switch (cls) {
    case mxDOUBLE_CLASS:
      return put(data, i, v);
    case mxSINGLE_CLASS:
      return put(data, i, toSingle(v));
    case mxINT8_CLASS:
      return put(data, i, toInteger<std::int8_t>(v));
    case mxUINT8_CLASS:
      return put(data, i, toInteger<std::uint8_t>(v));
    case mxINT16_CLASS:
      return put(data, i, toInteger<std::int16_t>(v));
    case mxUINT16_CLASS:
    case mxCHAR_CLASS:
      return put(data, i, toInteger<std::uint16_t>(v));
    case mxINT32_CLASS:
      return put(data, i, toInteger<std::int32_t>(v));
    case mxUINT32_CLASS:
      return put(data, i, toInteger<std::uint32_t>(v));
    case mxINT64_CLASS:
      return put(data, i, toInteger<std::int64_t>(v));
    case mxUINT64_CLASS:
      return put(data, i, toInteger<std::uint64_t>(v));
    case mxLOGICAL_CLASS:
      if (std::isnan(v)) throw UsageError{"NaN cannot be logical"};
      return put(data, i, static_cast<std::uint8_t>(v != 0.0 ? 1 : 0));
    default:
      throw UsageError{"class has no values"};
  }
}

mxhost::ArrayPtr parseArg(const std::string &arg) {
  const std::vector<std::string> fields = split(arg, ':');
  if (fields.size() < 2 || fields.size() > 3)
    throw UsageError{"bad argument '" + arg + "'"};

  const std::vector<std::string> kind = split(fields[0], '/');
  mxClassID cls = mxUNKNOWN_CLASS;
  for (const ClassName &c : kClasses)
    if (kind[0] == c.name) cls = c.cls;
  if (cls == mxUNKNOWN_CLASS)
    throw UsageError{"unknown class '" + kind[0] + "'"};
  bool complex = false;
  bool sparse = false;
  for (size_t i = 1; i < kind.size(); ++i) {
    bool &flag = kind[i] == "complex" ? complex : sparse;
    if ((kind[i] != "complex" && kind[i] != "sparse") || flag)
      throw UsageError{"bad modifier '" + kind[i] + "'"};
    flag = true;
  }

  const std::vector<std::string> dimText = split(fields[1], 'x');
  if (dimText.size() < 2) throw UsageError{"need at least two sizes"};
  std::vector<size_t> dims;
  for (const std::string &d : dimText) dims.push_back(parseSize(d));

  std::vector<double> values;
  if (fields.size() == 3 && !fields[2].empty())
    for (const std::string &v : split(fields[2], ','))
      values.push_back(parseNumber(v));
  if (fields.size() == 3 && mxhost::elementSize(cls) == 0)
    throw UsageError{"class " + kind[0] + " takes no values"};

  const size_t per = complex ? 2 : 1;
  if (values.size() % per != 0)
    throw UsageError{"complex values come in re,im pairs"};
  mxhost::ArrayPtr a;
  if (sparse) {
    if (dims.size() != 2) throw UsageError{"sparse arrays are 2-D"};
    a = mxhost::makeSparse(dims[0], dims[1], values.size() / per,
                           complex ? mxCOMPLEX : mxREAL);
  } else {
    a = mxhost::makeArray(cls, dims, complex ? mxCOMPLEX : mxREAL);
  }
  if (values.empty()) return a;
  const size_t n = mxhost::storedCount(a.get());
  if (values.size() != n * per)
    throw UsageError{"expected " + std::to_string(n * per) + " values, got " +
                     std::to_string(values.size())};
  for (size_t i = 0; i < n; ++i) {
    store(cls, mxhost::realData(a.get()), i, values[i * per]);
    if (complex) store(cls, mxhost::imagData(a.get()), i, values[i * per + 1]);
  }
  return a;
}

std::string formatValue(mxClassID cls, const void *data, size_t i, bool hex) {
  const auto *p = static_cast<const unsigned char *>(data);
  char buf[64];
  auto get = [&](auto v) {
    std::memcpy(&v, p + i * sizeof v, sizeof v);
    return v;
  };
  switch (cls) {
    case mxDOUBLE_CLASS: {
      const double v = get(0.0);
      if (hex) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        std::snprintf(buf, sizeof buf, "%016llx",
                      static_cast<unsigned long long>(bits));
      } else {
        std::snprintf(buf, sizeof buf, "%.17g", v);
      }
      break;
    }
    case mxSINGLE_CLASS:
      std::snprintf(buf, sizeof buf, "%.17g", static_cast<double>(get(0.0f)));
      break;
    case mxINT8_CLASS:
      std::snprintf(buf, sizeof buf, "%d", get(std::int8_t{}));
      break;
    case mxUINT8_CLASS:
      std::snprintf(buf, sizeof buf, "%u", get(std::uint8_t{}));
      break;
    case mxLOGICAL_CLASS:
      std::snprintf(buf, sizeof buf, "%d", get(std::uint8_t{}) != 0 ? 1 : 0);
      break;
    case mxINT16_CLASS:
      std::snprintf(buf, sizeof buf, "%d", get(std::int16_t{}));
      break;
    case mxUINT16_CLASS:
    case mxCHAR_CLASS:
      std::snprintf(buf, sizeof buf, "%u", get(std::uint16_t{}));
      break;
    case mxINT32_CLASS:
      std::snprintf(buf, sizeof buf, "%ld",
                    static_cast<long>(get(std::int32_t{})));
      break;
    case mxUINT32_CLASS:
      std::snprintf(buf, sizeof buf, "%lu",
                    static_cast<unsigned long>(get(std::uint32_t{})));
      break;
    case mxINT64_CLASS:
      std::snprintf(buf, sizeof buf, "%lld",
                    static_cast<long long>(get(std::int64_t{})));
      break;
    case mxUINT64_CLASS:
      std::snprintf(buf, sizeof buf, "%llu",
                    static_cast<unsigned long long>(get(std::uint64_t{})));
      break;
    default:
      buf[0] = '\0';
  }
  return buf;
}

void printOutput(size_t index, const mxArray *a, bool hex) {
  const mxClassID cls = mxGetClassID(a);
  const char *name = "unknown";
  for (const ClassName &c : kClasses)
    if (c.cls == cls) name = c.name;
  std::printf("out%zu %s%s%s ", index, name, mxIsComplex(a) ? "/complex" : "",
              mxIsSparse(a) ? "/sparse" : "");
  const std::vector<size_t> dims = mxhost::dimensions(a);
  for (size_t i = 0; i < dims.size(); ++i)
    std::printf(i == 0 ? "%zu" : "x%zu", dims[i]);
  std::printf("\n");
  const size_t n = mxhost::storedCount(a);
  for (size_t i = 0; i < n; ++i) {
    std::string line = formatValue(cls, mxhost::realData(a), i, hex);
    if (mxIsComplex(a))
      line += " " + formatValue(cls, mxhost::imagData(a), i, hex);
    std::printf("%s\n", line.c_str());
  }
}

int run(int argc, char **argv) {
  int pos = 1;
  bool hex = false;
  if (pos < argc && std::strcmp(argv[pos], "--hex") == 0) {
    hex = true;
    ++pos;
  }
  if (pos < argc && (std::strcmp(argv[pos], "-h") == 0 ||
                     std::strcmp(argv[pos], "--help") == 0)) {
    usage(stdout);
    return 0;
  }
  if (argc - pos < 2) throw UsageError{"missing MODULE or NLHS"};
  const std::string path = argv[pos++];
  const size_t nlhs = parseSize(argv[pos++]);
  if (nlhs > 1024) throw UsageError{"NLHS too large"};

  std::vector<mxhost::ArrayPtr> owned;
  std::vector<const mxArray *> args;
  for (; pos < argc; ++pos) {
    try {
      owned.push_back(parseArg(argv[pos]));
    } catch (const mxhost::MexError &e) {
      throw UsageError{std::string(argv[pos]) + ": " + e.what()};
    }
    args.push_back(owned.back().get());
  }

  std::unique_ptr<mxhost::Module> module;
  try {
    module = std::make_unique<mxhost::Module>(path);
  } catch (const std::runtime_error &e) {
    throw UsageError{e.what()};
  }
  mxhost::CallResult result = module->call(static_cast<int>(nlhs), args);
  if (!result.ok) {
    std::printf("error %s: %s\n", result.errorId.c_str(),
                result.errorMessage.c_str());
    return kExitModuleError;
  }
  for (size_t i = 0; i < nlhs; ++i) {
    if (!result.outputs[i]) {
      std::printf(
          "error MATLAB:unassignedOutputs: One or more output arguments not "
          "assigned during call.\n");
      return kExitModuleError;
    }
  }
  for (size_t i = 0; i < result.outputs.size(); ++i)
    if (result.outputs[i]) printOutput(i + 1, result.outputs[i].get(), hex);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  int status = 1;
  try {
    status = run(argc, argv);
  } catch (const UsageError &e) {
    std::fprintf(stderr, "mexrun: %s\n", e.what.c_str());
    usage(stderr);
    return kExitUsage;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "mexrun: %s\n", e.what());
    return 1;
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "mexrun: cannot write output\n");
    return 1;
  }
  return status;
}
