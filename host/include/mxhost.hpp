// C++ side of the stand-in host: the error type thrown by mexErrMsgIdAndTxt
// and by the array functions, owning array handles, builders and accessors
// for tests, the call arena and the module loader.
#ifndef SCENEMAP_HOST_MXHOST_HPP
#define SCENEMAP_HOST_MXHOST_HPP

#include <cstdarg>
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "matrix.h"

namespace mxhost {

// An error raised through the host: by a module via mexErrMsgIdAndTxt, or by
// libmx for a bad size ("mxhost:badSize"), a bad class ("mxhost:badClass")
// or an allocation failure ("MATLAB:nomem"). Its typeinfo lives in libmx
// so throwers and catchers in different shared objects agree on it.
class MexError : public std::runtime_error {
 public:
  MexError(std::string id, const std::string &message);
  MexError(const MexError &) = default;
  MexError &operator=(const MexError &) = default;
  ~MexError() override;
  const std::string &id() const { return id_; }

 private:
  std::string id_;
};

// The text of a printf-style error message (the format itself if it cannot
// be formatted), as mexErrMsgIdAndTxt reports it.
std::string formatMessage(const char *fmt, std::va_list args);

struct ArrayDeleter {
  void operator()(mxArray *pa) const noexcept;
};
using ArrayPtr = std::unique_ptr<mxArray, ArrayDeleter>;

// ---- Builders (never recorded in a call arena; the caller owns them) ----

// m-by-n double matrix; values are column-major and must number m*n, or be
// empty for zeros. Throws std::invalid_argument on a count mismatch.
ArrayPtr makeDouble(size_t m, size_t n, const std::vector<double> &values);
ArrayPtr makeScalar(double value);
// Zero-filled array of any class, including cell, struct and function
// handle. Throws MexError "mxhost:badClass" for a complex non-numeric class.
ArrayPtr makeArray(mxClassID cls, const std::vector<size_t> &dims,
                   mxComplexity cx = mxREAL);
// m-by-n sparse double with room for nzmax stored nonzeros (0 means 1).
ArrayPtr makeSparse(size_t m, size_t n, size_t nzmax, mxComplexity cx = mxREAL);

// ---- Accessors ----

// Raw element storage of any class (NULL for cell, struct, function handle
// and empty arrays); for sparse arrays the nzmax-long nonzero buffer.
void *realData(mxArray *pa);
void *imagData(mxArray *pa);  // NULL unless complex
std::vector<size_t> dimensions(const mxArray *pa);
// Number of elements held in realData (nzmax for sparse).
size_t storedCount(const mxArray *pa);
// Real parts of a full double array. Throws std::invalid_argument otherwise.
std::vector<double> toVector(const mxArray *pa);

// Element size in bytes (0 for classes without numeric storage).
size_t elementSize(mxClassID cls);
// MATLAB class name ("double", "cell", "function_handle" ...), or
// "unknown".
const char *className(mxClassID cls);

// Number of arrays currently alive in this process (all threads).
size_t liveArrayCount();

// ---- Call arena ----

// While a CallScope is alive on a thread (one at a time: no module calls
// another), every array that thread creates through the C API is recorded in
// it. release() hands a recorded array to the caller; the destructor
// destroys every array still recorded. mxDestroyArray inside a scope aborts
// if the array is not recorded: the module is freeing an array it does not
// own (for instance one of its inputs).
class CallScope {
 public:
  CallScope();
  ~CallScope();
  CallScope(const CallScope &) = delete;
  CallScope &operator=(const CallScope &) = delete;

  bool owns(const mxArray *pa) const;
  // Returns false (and does nothing) if pa is not recorded in this scope.
  bool release(mxArray *pa);
  size_t size() const;

 private:
  std::unordered_set<mxArray *> arrays_;
};

// ---- Loader ----

struct CallResult {
  bool ok = true;
  std::string errorId;
  std::string errorMessage;
  // On success, the first max(nlhs, 1) plhs slots as the module left them;
  // empty on error.
  std::vector<ArrayPtr> outputs;
};

class Module {
 public:
  // Opens the module with dlopen(RTLD_NOW | RTLD_LOCAL) (on Windows
  // LoadLibraryEx, searching the module's folder for its imports) and
  // resolves mexFunction. On x86-64 Linux a macOS module (a Mach-O bundle)
  // is loaded by the loader of macho_loader.hpp instead. Throws
  // std::runtime_error with the loader's error text.
  explicit Module(const std::string &path);
  ~Module();
  Module(const Module &) = delete;
  Module &operator=(const Module &) = delete;

  // Calls mexFunction with a heap plhs array of exactly max(nlhs, 1) NULL
  // slots. Arrays the module created and did not return are destroyed, also
  // on error. A MexError from the module yields ok == false; any other
  // exception propagates. Throws std::invalid_argument for nlhs < 0 or a
  // NULL argument, and std::logic_error if the module returns an array it did
  // not create during the call or returns the same array twice.
  CallResult call(int nlhs, const std::vector<const mxArray *> &args) const;

  const std::string &path() const { return path_; }

 private:
  using Entry = void (*)(int, mxArray **, int, const mxArray **);
  std::string path_;
  void *handle_ = nullptr;  // the macho::Bundle if machO_, else the library
  bool machO_ = false;
  Entry entry_ = nullptr;
};

}  // namespace mxhost

#endif  // SCENEMAP_HOST_MXHOST_HPP
