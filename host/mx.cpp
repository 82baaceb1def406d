// libmx stand-in: the array type, the C array functions of matrix.h, the
// call arena and the C++ helpers of mxhost.hpp.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "matrix.h"
#include "mxhost.hpp"

namespace {

constexpr std::uint32_t kLiveMagic = 0x6d784152u;  // "mxAR"

struct FreeDeleter {
  void operator()(void *p) const noexcept { std::free(p); }
};
using Buffer = std::unique_ptr<unsigned char[], FreeDeleter>;

[[noreturn]] void fatal(const char *what) {
  std::fprintf(stderr, "mxhost: fatal: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

template <typename T>
double readAs(const unsigned char *p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return static_cast<double>(v);
}

// Any nonzero byte is true.
double readLogical(const unsigned char *p) { return p[0] != 0 ? 1.0 : 0.0; }

struct ClassInfo {
  const char *name;  // NULL: a class the host does not make
  size_t size;       // element size in bytes, 0 without numeric storage
  bool numeric;
  double (*read)(const unsigned char *);  // mxGetScalar's conversion
};

// Indexed by mxClassID.
constexpr ClassInfo kClasses[] = {{nullptr, 0, false, nullptr},
                                  {"cell", 0, false, nullptr},
                                  {"struct", 0, false, nullptr},
                                  {"logical", 1, false, readLogical},
                                  {"char", 2, false, readAs<std::uint16_t>},
                                  {nullptr, 0, false, nullptr},
                                  {"double", 8, true, readAs<double>},
                                  {"single", 4, true, readAs<float>},
                                  {"int8", 1, true, readAs<std::int8_t>},
                                  {"uint8", 1, true, readAs<std::uint8_t>},
                                  {"int16", 2, true, readAs<std::int16_t>},
                                  {"uint16", 2, true, readAs<std::uint16_t>},
                                  {"int32", 4, true, readAs<std::int32_t>},
                                  {"uint32", 4, true, readAs<std::uint32_t>},
                                  {"int64", 8, true, readAs<std::int64_t>},
                                  {"uint64", 8, true, readAs<std::uint64_t>},
                                  {"function_handle", 0, false, nullptr}};

const ClassInfo &classInfo(mxClassID cls) {
  static constexpr ClassInfo kUnknown{nullptr, 0, false, nullptr};
  const size_t i = static_cast<size_t>(cls);
  return i < sizeof kClasses / sizeof kClasses[0] ? kClasses[i] : kUnknown;
}

}  // namespace

struct mxArray_tag {
  std::uint32_t magic = kLiveMagic;
  mxClassID cls = mxDOUBLE_CLASS;
  bool complex = false;
  bool sparse = false;
  std::vector<size_t> dims;  // at least two, no trailing singletons past 2
  size_t numel = 0;
  size_t stored = 0;  // elements in re/im: numel, or nzmax for sparse
  Buffer re;
  Buffer im;
};

namespace mxhost {

MexError::MexError(std::string id, const std::string &message)
    : std::runtime_error(message), id_(std::move(id)) {}

MexError::~MexError() = default;

}  // namespace mxhost

namespace {

std::atomic<size_t> g_live{0};

// The arrays created during the call running on this thread, if any.
thread_local std::unordered_set<mxArray *> *t_scope = nullptr;

const mxArray_tag &checked(const mxArray *pa) {
  if (pa == nullptr) fatal("NULL mxArray pointer passed to the array API");
  if (pa->magic != kLiveMagic) fatal("invalid or destroyed mxArray");
  return *pa;
}

[[noreturn]] void badSize(const char *why) {
  throw mxhost::MexError("mxhost:badSize", why);
}

[[noreturn]] void badClass(const char *why) {
  throw mxhost::MexError("mxhost:badClass", why);
}

[[noreturn]] void noMemory() {
  throw mxhost::MexError("MATLAB:nomem", "Out of memory.");
}

Buffer allocateZeroed(size_t bytes) {
  if (bytes == 0) return Buffer();
  // Refuse sizes no object can have before asking the allocator, so a huge
  // request fails the same way with or without sanitizers.
  if (bytes > static_cast<size_t>(std::numeric_limits<std::ptrdiff_t>::max()))
    noMemory();
  void *p = std::calloc(bytes, 1);
  if (p == nullptr) noMemory();
  return Buffer(static_cast<unsigned char *>(p));
}

// Builds an array; throws MexError on bad arguments or memory exhaustion.
// Missing dimensions (ndim < 2) are singletons.
mxArray *create(mxClassID cls, mxComplexity flag, bool sparse,
                const size_t *dims, size_t ndim, size_t nzmax) {
  const ClassInfo &info = classInfo(cls);
  if (info.name == nullptr) badClass("Unsupported array class.");
  if (flag != mxREAL && flag != mxCOMPLEX) badClass("Invalid complexity flag.");
  const bool complex = flag == mxCOMPLEX;
  if (complex && !info.numeric) badClass("Only numeric arrays can be complex.");
  if (sparse && cls != mxDOUBLE_CLASS) badClass("Only double can be sparse.");
  if (ndim > 0 && dims == nullptr) badSize("NULL dimension array.");

  std::unique_ptr<mxArray_tag> a;
  try {
    a = std::make_unique<mxArray_tag>();
    a->dims.assign(dims, dims + ndim);
    while (a->dims.size() < 2) a->dims.push_back(1);
    while (a->dims.size() > 2 && a->dims.back() == 1) a->dims.pop_back();
  } catch (const std::bad_alloc &) {
    noMemory();
  }
  if (sparse && a->dims.size() != 2) badSize("Sparse arrays are 2-D.");

  size_t numel = 1;
  for (size_t d : a->dims) {
    if (d != 0 && numel > std::numeric_limits<size_t>::max() / d)
      badSize("Array dimensions overflow the element count.");
    numel *= d;
  }
  const size_t stored = sparse ? (nzmax == 0 ? 1 : nzmax) : numel;
  if (info.size != 0 && stored > std::numeric_limits<size_t>::max() / info.size)
    badSize("Array size overflows the byte count.");

  a->cls = cls;
  a->complex = complex;
  a->sparse = sparse;
  a->numel = numel;
  a->stored = info.size == 0 ? 0 : stored;
  a->re = allocateZeroed(a->stored * info.size);
  if (complex) a->im = allocateZeroed(a->stored * info.size);
  g_live.fetch_add(1, std::memory_order_relaxed);
  return a.release();
}

void destroy(mxArray *pa) noexcept {
  pa->magic = 0;
  delete pa;
  g_live.fetch_sub(1, std::memory_order_relaxed);
}

// Records a freshly created array in the running call, if any.
mxArray *record(mxArray *pa) {
  if (t_scope == nullptr) return pa;
  try {
    t_scope->insert(pa);
  } catch (const std::bad_alloc &) {
    destroy(pa);
    noMemory();
  }
  return pa;
}

size_t checkedSize(int v) {
  if (v < 0) badSize("Negative array dimension.");
  return static_cast<size_t>(v);
}

}  // namespace

// ---- C API ----

extern "C" {

size_t mxGetM(const mxArray *pa) { return checked(pa).dims[0]; }

size_t mxGetN(const mxArray *pa) {
  const auto &a = checked(pa);
  size_t n = 1;
  for (size_t i = 1; i < a.dims.size(); ++i) n *= a.dims[i];
  return n;
}

size_t mxGetNumberOfElements(const mxArray *pa) { return checked(pa).numel; }

mxClassID mxGetClassID(const mxArray *pa) { return checked(pa).cls; }

const char *mxGetClassName(const mxArray *pa) {
  return mxhost::className(checked(pa).cls);
}

bool mxIsNumeric(const mxArray *pa) {
  return classInfo(checked(pa).cls).numeric;
}

bool mxIsComplex(const mxArray *pa) { return checked(pa).complex; }

bool mxIsSparse(const mxArray *pa) { return checked(pa).sparse; }

double mxGetScalar(const mxArray *pa) {
  const auto &a = checked(pa);
  const ClassInfo &info = classInfo(a.cls);
  if (a.stored == 0 || !a.re || info.read == nullptr) return 0.0;
  return info.read(a.re.get());
}

double *mxGetPr(const mxArray *pa) {
  if (pa == nullptr) return nullptr;
  const auto &a = checked(pa);
  if (a.cls != mxDOUBLE_CLASS) return nullptr;
  return reinterpret_cast<double *>(a.re.get());
}

mxArray *mxCreateDoubleMatrix_700(int m, int n, mxComplexity flag) {
  const size_t dims[2] = {checkedSize(m), checkedSize(n)};
  return record(create(mxDOUBLE_CLASS, flag, false, dims, 2, 0));
}

mxArray *mxCreateNumericArray_700(int ndim, const int *dims, mxClassID classid,
                                  mxComplexity flag) {
  if (ndim < 0) badSize("Negative number of dimensions.");
  if (ndim > 0 && dims == nullptr) badSize("NULL dimension array.");
  const ClassInfo &info = classInfo(classid);
  if (!info.numeric && classid != mxLOGICAL_CLASS && classid != mxCHAR_CLASS)
    badClass("mxCreateNumericArray needs a numeric class.");
  for (int i = 0; i < ndim; ++i) checkedSize(dims[i]);
  std::vector<size_t> wide;
  try {
    wide.assign(dims, dims + ndim);
  } catch (const std::bad_alloc &) {
    noMemory();
  }
  return record(create(classid, flag, false, wide.data(), wide.size(), 0));
}

void mxDestroyArray(mxArray *pa) {
  if (pa == nullptr) return;
  checked(pa);
  if (t_scope != nullptr && t_scope->erase(pa) == 0)
    fatal("mxDestroyArray on an array the running module does not own");
  destroy(pa);
}

}  // extern "C"

// ---- C++ helpers ----

namespace mxhost {

void ArrayDeleter::operator()(mxArray *pa) const noexcept {
  if (pa == nullptr) return;
  checked(pa);
  if (t_scope != nullptr) t_scope->erase(pa);
  destroy(pa);
}

ArrayPtr makeArray(mxClassID cls, const std::vector<size_t> &dims,
                   mxComplexity cx) {
  return ArrayPtr(create(cls, cx, false, dims.data(), dims.size(), 0));
}

ArrayPtr makeDouble(size_t m, size_t n, const std::vector<double> &values) {
  ArrayPtr a = makeArray(mxDOUBLE_CLASS, {m, n});
  if (!values.empty()) {
    if (values.size() != a->numel)
      throw std::invalid_argument("makeDouble: value count is not m*n");
    std::memcpy(a->re.get(), values.data(), values.size() * sizeof(double));
  }
  return a;
}

ArrayPtr makeScalar(double value) { return makeDouble(1, 1, {value}); }

ArrayPtr makeSparse(size_t m, size_t n, size_t nz, mxComplexity cx) {
  const size_t dims[2] = {m, n};
  return ArrayPtr(create(mxDOUBLE_CLASS, cx, true, dims, 2, nz));
}

void *realData(mxArray *pa) { return checked(pa).re.get(); }
void *imagData(mxArray *pa) { return checked(pa).im.get(); }

std::vector<size_t> dimensions(const mxArray *pa) { return checked(pa).dims; }

size_t storedCount(const mxArray *pa) { return checked(pa).stored; }

std::vector<double> toVector(const mxArray *pa) {
  const auto &a = checked(pa);
  if (a.cls != mxDOUBLE_CLASS || a.sparse)
    throw std::invalid_argument("toVector: not a full double array");
  std::vector<double> out(a.numel);
  if (a.numel != 0)
    std::memcpy(out.data(), a.re.get(), a.numel * sizeof(double));
  return out;
}

size_t elementSize(mxClassID cls) { return classInfo(cls).size; }

const char *className(mxClassID cls) {
  const char *name = classInfo(cls).name;
  return name != nullptr ? name : "unknown";
}

size_t liveArrayCount() { return g_live.load(std::memory_order_relaxed); }

CallScope::CallScope() {
  // No module calls another, so calls never nest.
  if (t_scope != nullptr) fatal("a call scope inside another");
  t_scope = &arrays_;
}

CallScope::~CallScope() {
  t_scope = nullptr;
  for (mxArray *pa : arrays_) destroy(pa);
}

bool CallScope::owns(const mxArray *pa) const {
  // The set holds non-const pointers; find() needs the same type.
  return arrays_.count(const_cast<mxArray *>(pa)) != 0;
}

bool CallScope::release(mxArray *pa) { return arrays_.erase(pa) != 0; }

size_t CallScope::size() const { return arrays_.size(); }

}  // namespace mxhost
