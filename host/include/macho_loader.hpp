// Loader for the Mach-O bundles (the macOS modules) of the architecture it
// is built for, so that the tests run them on Linux: x86-64 (.mexmaci64)
// and i386 (.mexmaci) call functions alike on both systems; for arm64
// (.mexmaca64) the imports that Apple's convention passes differently are
// adapters. Used by Module (loader.cpp) for files that start with a Mach-O
// magic number.
#ifndef SCENEMAP_HOST_MACHO_LOADER_HPP
#define SCENEMAP_HOST_MACHO_LOADER_HPP

#include <cstddef>
#include <string>

#include "matrix.h"

namespace mxhost {
namespace macho {

using Entry = void (*)(int, mxArray **, int, const mxArray **);

// Whether the file starts with a (32- or 64-bit) Mach-O magic number.
bool isMachO(const std::string &path);

// Maps the bundle, applies its rebase and bind opcodes (LC_DYLD_INFO_ONLY)
// and finds _mexFunction in its export trie. Imports resolve to this
// process: the libSystem math functions to libm, the stack protector to
// local stand-ins, mx* and mex* to the stand-in host. Throws
// std::runtime_error naming what is wrong or unsupported (another
// architecture or file type, chained fixups, an import it does not provide).
class Bundle {
 public:
  explicit Bundle(const std::string &path);
  ~Bundle();
  Bundle(const Bundle &) = delete;
  Bundle &operator=(const Bundle &) = delete;

  Entry entry() const { return entry_; }

 private:
  void *base_ = nullptr;
  std::size_t size_ = 0;
  Entry entry_ = nullptr;
};

// The address an import of the bundles is bound to: the stand-in for the
// symbol `name` (with its leading underscore) of the dylib of that install
// name. Throws std::runtime_error for an import the loader does not provide.
void *importAddress(const std::string &dylib, const char *name);

// Runs a bundle's entry. A host error raised during the call (by
// mexErrMsgIdAndTxt or an array function) leaves the module by a long jump
// back here and is thrown from here as a MexError: the module's frames carry
// no unwind tables that this process's unwinder could read.
void call(Entry entry, int nlhs, mxArray **plhs, int nrhs,
          const mxArray **prhs);

}  // namespace macho
}  // namespace mxhost

#endif  // SCENEMAP_HOST_MACHO_LOADER_HPP
