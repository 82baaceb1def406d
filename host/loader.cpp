// Module loader: opens a module (dlopen, or LoadLibrary on Windows) and runs
// its mexFunction inside a call arena, the way the real host does.
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <climits>
#include <cstring>

#include "mxhost.hpp"

#ifdef MXHOST_MACHO
#include "macho_loader.hpp"
#endif

namespace mxhost {

namespace {

#ifdef _WIN32

std::string lastLoadError(const char *) {
  const DWORD code = GetLastError();
  char *text = nullptr;
  const DWORD len = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char *>(&text), 0, nullptr);
  std::string why = "error " + std::to_string(code);
  if (len != 0 && text != nullptr) {
    why += ": " + std::string(text, len);
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r'))
      why.pop_back();
  }
  LocalFree(text);
  return why;
}

void *openLibrary(const std::string &path) {
  // Look for the module's own imports beside it before the usual places.
  return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void *findSymbol(void *handle, const char *name) {
  // GetProcAddress returns a function pointer; hold it as an address.
  return reinterpret_cast<void *>(
      GetProcAddress(static_cast<HMODULE>(handle), name));
}

void closeLibrary(void *handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

void clearLoadError() { SetLastError(0); }

#else

std::string lastLoadError(const char *fallback) {
  const char *err = dlerror();
  return err != nullptr ? err : fallback;
}

void *openLibrary(const std::string &path) {
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void *findSymbol(void *handle, const char *name) { return dlsym(handle, name); }

void closeLibrary(void *handle) { dlclose(handle); }

void clearLoadError() { dlerror(); }

#endif

void closeModule(void *handle, bool machO) {
#ifdef MXHOST_MACHO
  if (machO) {
    delete static_cast<macho::Bundle *>(handle);
    return;
  }
#endif
  (void)machO;
  closeLibrary(handle);
}

}  // namespace

Module::Module(const std::string &path) : path_(path) {
#ifdef MXHOST_MACHO
  if (macho::isMachO(path)) {
    try {
      auto *bundle = new macho::Bundle(path);
      handle_ = bundle;
      machO_ = true;
      entry_ = bundle->entry();
    } catch (const std::runtime_error &e) {
      throw std::runtime_error("cannot open module " + path + ": " + e.what());
    }
    return;
  }
#endif
  clearLoadError();
  handle_ = openLibrary(path);
  if (handle_ == nullptr)
    throw std::runtime_error("cannot open module " + path + ": " +
                             lastLoadError("unknown error"));
  clearLoadError();
  void *sym = findSymbol(handle_, "mexFunction");
  if (sym == nullptr) {
    std::string why = lastLoadError("symbol mexFunction is NULL");
    closeLibrary(handle_);
    handle_ = nullptr;
    throw std::runtime_error("module " + path + " has no mexFunction: " + why);
  }
  // POSIX and Windows both convert object and function pointers losslessly.
  entry_ = reinterpret_cast<Entry>(sym);
}

Module::~Module() {
  if (handle_ != nullptr) closeModule(handle_, machO_);
}

CallResult Module::call(int nlhs,
                        const std::vector<const mxArray *> &args) const {
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
#ifdef MXHOST_MACHO
    if (machO_)
      macho::call(entry_, nlhs, plhs.get(), static_cast<int>(args.size()),
                  prhs.get());
    else
#endif
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
