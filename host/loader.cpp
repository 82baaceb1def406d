// Module loader: opens a module with dlopen and runs its mexFunction inside
// a call arena, the way the real host does.
#include <dlfcn.h>

#include <climits>
#include <cstring>
#include <utility>

#include "mxhost.hpp"

namespace mxhost {

namespace {

std::string lastDlError(const char *fallback) {
  const char *err = dlerror();
  return err != nullptr ? err : fallback;
}

}  // namespace

Module::Module(const std::string &path) : path_(path) {
  dlerror();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr)
    throw std::runtime_error("cannot open module " + path + ": " +
                             lastDlError("unknown error"));
  dlerror();
  void *sym = dlsym(handle_, "mexFunction");
  if (sym == nullptr) {
    std::string why = lastDlError("symbol mexFunction is NULL");
    dlclose(handle_);
    handle_ = nullptr;
    throw std::runtime_error("module " + path + " has no mexFunction: " + why);
  }
  // POSIX guarantees object and function pointers convert losslessly.
  entry_ = reinterpret_cast<Entry>(sym);
}

Module::~Module() {
  if (handle_ != nullptr) dlclose(handle_);
}

Module::Module(Module &&other) noexcept
    : path_(std::move(other.path_)),
      handle_(std::exchange(other.handle_, nullptr)),
      entry_(std::exchange(other.entry_, nullptr)) {}

Module &Module::operator=(Module &&other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) dlclose(handle_);
    path_ = std::move(other.path_);
    handle_ = std::exchange(other.handle_, nullptr);
    entry_ = std::exchange(other.entry_, nullptr);
  }
  return *this;
}

CallResult Module::call(int nlhs,
                        const std::vector<const mxArray *> &args) const {
  if (entry_ == nullptr) throw std::logic_error("call on a moved-from Module");
  if (nlhs < 0) throw std::invalid_argument("nlhs must not be negative");
  if (args.size() > static_cast<size_t>(INT_MAX))
    throw std::invalid_argument("too many arguments");
  for (const mxArray *a : args)
    if (a == nullptr) throw std::invalid_argument("NULL argument");

  // Exactly sized heap arrays, so a module indexing past them is caught by
  // memory checkers.
  const size_t slots = nlhs > 0 ? static_cast<size_t>(nlhs) : 1;
  std::unique_ptr<mxArray *[]> plhs(new mxArray *[slots]());
  std::unique_ptr<const mxArray *[]> prhs(new const mxArray *[args.size()]);
  if (!args.empty())
    std::memcpy(prhs.get(), args.data(), args.size() * sizeof(args[0]));

  CallResult result;
  CallScope scope;
  try {
    entry_(nlhs, plhs.get(), static_cast<int>(args.size()), prhs.get());
  } catch (const MexError &e) {
    result.ok = false;
    result.errorId = e.id();
    result.errorMessage = e.what();
    return result;  // the scope frees everything the module created
  }

  for (size_t i = 0; i < slots; ++i) {
    if (plhs[i] == nullptr) continue;
    const std::string where =
        "module " + path_ + " plhs[" + std::to_string(i) + "]";
    if (!scope.owns(plhs[i]))
      throw std::logic_error(where +
                             " is not an array created during this call");
    for (size_t j = 0; j < i; ++j)
      if (plhs[j] == plhs[i])
        throw std::logic_error(where + " repeats plhs[" + std::to_string(j) +
                               "]");
  }
  result.outputs.reserve(slots);
  for (size_t i = 0; i < slots; ++i) {
    if (plhs[i] != nullptr) scope.release(plhs[i]);
    result.outputs.emplace_back(plhs[i]);
  }
  return result;
}

}  // namespace mxhost
