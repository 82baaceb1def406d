// mexrun: runs a module once from the command line, for the demo without
// Octave (tools/demo.sh) and for checks of a module file.
//
//   mexrun [--hex] MODULE NLHS [double:DIMS[:VALUES]]...
//
// DIMS are sizes joined by x, at least two (2x3, 0x0, 2x2x1x4); VALUES are
// comma-separated numbers, column by column, one per element (omitted:
// zeros). Each output prints as "outK CLASS DIMS" and then its values, %.17g
// or with --hex their 64-bit patterns. Exit status: 0 success, 2 bad usage
// or unloadable module, 3 module error, 1 any other failure.
#include <cctype>
#include <cerrno>
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

struct UsageError {
  std::string what;
};

std::vector<std::string> split(const std::string &s, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = s.find(sep, start)) != std::string::npos;
       start = at + 1)
    parts.push_back(s.substr(start, at - start));
  parts.push_back(s.substr(start));
  return parts;
}

size_t parseSize(const std::string &s) {
  // strtoull accepts signs and leading blanks; a size is digits only.
  if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos)
    throw UsageError{"bad size '" + s + "'"};
  errno = 0;
  const unsigned long long v = std::strtoull(s.c_str(), nullptr, 10);
  if (errno == ERANGE || v > std::numeric_limits<size_t>::max())
    throw UsageError{"size out of range '" + s + "'"};
  return static_cast<size_t>(v);
}

double parseNumber(const std::string &s) {
  char *end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (s.empty() || std::isspace(static_cast<unsigned char>(s[0])) ||
      end != s.c_str() + s.size())
    throw UsageError{"bad number '" + s + "'"};
  return v;
}

mxhost::ArrayPtr parseArg(const std::string &arg) {
  const std::vector<std::string> fields = split(arg, ':');
  if (fields.size() < 2 || fields.size() > 3 || fields[0] != "double")
    throw UsageError{"bad argument '" + arg + "'"};
  std::vector<size_t> dims;
  for (const std::string &d : split(fields[1], 'x'))
    dims.push_back(parseSize(d));
  if (dims.size() < 2) throw UsageError{"need at least two sizes"};
  mxhost::ArrayPtr a = mxhost::makeArray(mxDOUBLE_CLASS, dims);
  if (fields.size() == 3 && !fields[2].empty()) {
    const std::vector<std::string> values = split(fields[2], ',');
    if (values.size() != mxGetNumberOfElements(a.get()))
      throw UsageError{"expected " +
                       std::to_string(mxGetNumberOfElements(a.get())) +
                       " values in '" + arg + "'"};
    for (size_t i = 0; i < values.size(); ++i)
      mxGetPr(a.get())[i] = parseNumber(values[i]);
  }
  return a;
}

void printOutput(size_t index, const mxArray *a, bool hex) {
  std::printf("out%zu %s ", index, mxGetClassName(a));
  const std::vector<size_t> dims = mxhost::dimensions(a);
  for (size_t i = 0; i < dims.size(); ++i)
    std::printf(i == 0 ? "%zu" : "x%zu", dims[i]);
  std::printf("\n");
  const double *p = mxGetPr(a);
  for (size_t i = 0; p != nullptr && i < mxGetNumberOfElements(a); ++i) {
    std::uint64_t bits;
    std::memcpy(&bits, &p[i], sizeof bits);
    if (hex)
      std::printf("%016llx\n", static_cast<unsigned long long>(bits));
    else
      std::printf("%.17g\n", p[i]);
  }
}

int run(int argc, char **argv) {
  int pos = 1;
  const bool hex = pos < argc && std::strcmp(argv[pos], "--hex") == 0;
  if (hex) ++pos;
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
    return 3;
  }
  for (size_t i = 0; i < nlhs; ++i) {
    if (!result.outputs[i]) {
      std::printf(
          "error MATLAB:unassignedOutputs: One or more output arguments not "
          "assigned during call.\n");
      return 3;
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
    std::fprintf(stderr,
                 "mexrun: %s\nusage: mexrun [--hex] MODULE NLHS "
                 "[double:DIMS[:VALUES]]...\n",
                 e.what.c_str());
    return 2;
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
