// Mach-O bundle loader (see macho_loader.hpp). Structures and opcodes are
// those of the Mach-O file format as the dynamic linker reads them: a
// header, load commands, segments mapped at their virtual addresses, and the
// compressed dyld information (rebase, bind and lazy-bind opcode streams,
// the export trie). It loads the bundles of the architecture it is built
// for: x86-64 and arm64 (64-bit header, LC_SEGMENT_64, 8-byte pointers) or
// i386 (32-bit header, LC_SEGMENT, 4-byte pointers).
#include "macho_loader.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "mex.h"
#include "mxhost.hpp"

#if defined(__aarch64__)
// mexErrMsgIdAndTxt as Apple's arm64 modules call it: id and format in x0
// and x1, the variadic arguments on the stack from sp. The entry passes sp
// on as the third argument to the C++ side, which never returns.
extern "C" {
void scenemap_macho_apple_errmsg(const char *id, const char *fmt, ...);
[[noreturn]] __attribute__((visibility("hidden"), used)) void
scenemap_macho_apple_errmsg_slots(const char *id, const char *fmt, void *slots);
}
asm(R"(
        .text
        .p2align 2
        .hidden scenemap_macho_apple_errmsg
        .type scenemap_macho_apple_errmsg, %function
scenemap_macho_apple_errmsg:
        mov x2, sp
        b scenemap_macho_apple_errmsg_slots
        .size scenemap_macho_apple_errmsg, . - scenemap_macho_apple_errmsg
)");
#endif

namespace mxhost {
namespace macho {

namespace {

constexpr std::uint32_t kMagic32 = 0xfeedface;
constexpr std::uint32_t kMagic64 = 0xfeedfacf;
#if defined(__x86_64__)
constexpr std::uint32_t kCpu = 0x01000007;
constexpr char kArch[] = "x86-64";
#elif defined(__i386__)
constexpr std::uint32_t kCpu = 7;
constexpr char kArch[] = "i386";
#elif defined(__aarch64__)
constexpr std::uint32_t kCpu = 0x0100000c;
constexpr char kArch[] = "arm64";
#else
#error "no Mach-O architecture for this processor"
#endif
// Pointers in the bundle are this process's pointers.
constexpr unsigned kPointer = sizeof(void *);
constexpr bool k64 = kPointer == 8;
constexpr std::uint32_t kMagic = k64 ? kMagic64 : kMagic32;
constexpr std::uint64_t kHeaderSize = k64 ? 32 : 28;
constexpr std::uint32_t kFileBundle = 8;
constexpr std::uint32_t kReqDyld = 0x80000000;
constexpr std::uint32_t kCmdSegment = k64 ? 0x19 : 0x1;
constexpr std::uint32_t kCmdLoadDylib = 0xc;
constexpr std::uint32_t kCmdDyldInfo = 0x22;
constexpr std::uint32_t kCmdDyldInfoOnly = 0x22 | kReqDyld;
constexpr std::uint32_t kCmdChainedFixups = 0x34 | kReqDyld;

[[noreturn]] void fail(const std::string &why) {
  throw std::runtime_error(why);
}

// Reads little-endian fields of the file with bounds checks.
template <typename T>
T field(const std::vector<std::uint8_t> &file, std::uint64_t offset) {
  if (offset > file.size() || file.size() - offset < sizeof(T))
    fail("truncated Mach-O file");
  T value;
  std::memcpy(&value, file.data() + offset, sizeof(T));
  return value;
}

// A bounded reader of an opcode stream or the export trie.
class Cursor {
 public:
  Cursor(const std::uint8_t *begin, const std::uint8_t *end)
      : begin_(begin), p_(begin), end_(end) {}
  bool atEnd() const { return p_ >= end_; }
  void seek(std::uint64_t offset) {
    if (offset >= static_cast<std::uint64_t>(end_ - begin_))
      fail("offset beyond the export trie");
    p_ = begin_ + offset;
  }
  std::uint8_t byte() {
    if (atEnd()) fail("truncated dyld information");
    return *p_++;
  }
  std::uint64_t uleb() {
    std::uint64_t value = 0;
    for (unsigned shift = 0;; shift += 7) {
      const std::uint8_t b = byte();
      if (shift < 64) value |= std::uint64_t(b & 0x7f) << shift;
      if ((b & 0x80) == 0) return value;
    }
  }
  std::int64_t sleb() {
    std::uint64_t value = 0;
    unsigned shift = 0;
    std::uint8_t b;
    do {
      b = byte();
      if (shift < 64) value |= std::uint64_t(b & 0x7f) << shift;
      shift += 7;
    } while (b & 0x80);
    if (shift < 64 && (b & 0x40)) value |= ~std::uint64_t(0) << shift;
    return static_cast<std::int64_t>(value);
  }
  const char *cstring() {
    const void *nul = std::memchr(p_, 0, static_cast<std::size_t>(end_ - p_));
    if (nul == nullptr) fail("unterminated name in dyld information");
    const char *s = reinterpret_cast<const char *>(p_);
    p_ = static_cast<const std::uint8_t *>(nul) + 1;
    return s;
  }

 private:
  const std::uint8_t *begin_, *p_, *end_;
};

struct Segment {
  std::uint64_t vmaddr, vmsize, fileoff, filesize;
  std::uint32_t initprot;
};

// A pointer-sized slot of the image.
std::uintptr_t loadPointer(const std::uint8_t *p) {
  std::uintptr_t value;
  std::memcpy(&value, p, kPointer);
  return value;
}
void storePointer(std::uint8_t *p, std::uintptr_t value) {
  std::memcpy(p, &value, kPointer);
}

// ---- What the imports resolve to ----
//
// Exactly the functions of the stubs in cmake/macos, from this process.

// A host error raised during a call leaves the module by longjmp to the
// innermost call() of the thread. The module is plain procedural code with
// nothing to destroy on the way, and the stand-ins below end the lifetime of
// their own objects before they jump.
struct Boundary {
  std::jmp_buf jump;
  std::string id, message;
};
thread_local Boundary *innermost = nullptr;

Boundary &boundary() {
  if (innermost == nullptr) {
    std::fputs("macho loader: host function raised an error outside a call\n",
               stderr);
    std::abort();
  }
  return *innermost;
}

[[noreturn]] void leaveModule() { std::longjmp(boundary().jump, 1); }

[[noreturn]] void raise(const char *id, const char *fmt, std::va_list args) {
  {
    Boundary &b = boundary();
    try {
      b.id = id != nullptr ? id : "";
      b.message = formatMessage(fmt, args);
    } catch (...) {
      b.message = "(message lost: out of memory)";
    }
  }
  leaveModule();
}

#if defined(__aarch64__)
// Apple's arm64 convention passes every variadic argument on the stack, one
// 8-byte slot each (16 for a 16-byte type), and its va_list is a plain
// pointer to the next slot; Linux passes variadic arguments in registers
// first, and its va_list records the register save areas beside the stack.
// A Linux va_list whose register areas are used up (both offsets 0) reads
// every argument from its stack pointer, slot by slot as Apple lays them
// out. x18, which Apple reserves and the modules never touch, is an
// ordinary scratch register to Linux code: nothing to adapt there.
struct LinuxVaList {
  void *stack, *grTop, *vrTop;
  int grOffs, vrOffs;
};
static_assert(sizeof(LinuxVaList) == sizeof(std::va_list),
              "the AAPCS64 va_list");

template <typename F>
auto withAppleArgs(void *slots, F use) {
  const LinuxVaList mirror{slots, nullptr, nullptr, 0, 0};
  std::va_list args;
  std::memcpy(&args, &mirror, sizeof args);
  return use(args);
}

int appleVsnprintf(char *buf, size_t size, const char *fmt, void *slots) {
  return withAppleArgs(slots, [&](std::va_list args) {
    return std::vsnprintf(buf, size, fmt, args);
  });
}
#else
// i386 and x86-64 pass variadic arguments, and lay out va_list, alike on
// macOS and Linux.
void errMsgIdAndTxt(const char *id, const char *fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  raise(id, fmt, args);  // leaves by a long jump; va_end has nothing to free
}
#endif

// The array functions that may raise a host error (bad size or class, out
// of memory) turn it into the same jump.
template <typename F>
mxArray *creating(F create) {
  {
    Boundary &b = boundary();
    try {
      return create();
    } catch (const MexError &e) {
      b.id = e.id();
      b.message = e.what();
    }
  }
  leaveModule();
}

mxArray *createDoubleMatrix700(int m, int n, mxComplexity flag) {
  return creating([=] { return mxCreateDoubleMatrix_700(m, n, flag); });
}
mxArray *createNumericArray700(int ndim, const int *dims, mxClassID cls,
                               mxComplexity flag) {
  return creating(
      [=] { return mxCreateNumericArray_700(ndim, dims, cls, flag); });
}

// Apple's callers rely on a bool result widened to 32 bits (arm64), which a
// Linux callee need not do: these return it as an int.
int isNumeric(const mxArray *pa) { return mxIsNumeric(pa); }
int isComplex(const mxArray *pa) { return mxIsComplex(pa); }
int isSparse(const mxArray *pa) { return mxIsSparse(pa); }

// libSystem's sine-and-cosine pair (x86-64 and arm64), returned in xmm0 and
// xmm1, or d0 and d1, as the Linux conventions return a structure of two
// doubles.
struct SinCos {
  double sin, cos;
};
SinCos sinCos(double x) { return {std::sin(x), std::cos(x)}; }

std::uintptr_t stackGuard = static_cast<std::uintptr_t>(0x5e2a9c43d1f0b87eu);
void stackCheckFailed() {
  std::fputs("macho loader: stack smashing detected in a module\n", stderr);
  std::abort();
}
// Every lazy pointer is bound before the first call, so the lazy binder
// is never reached.
void lazyBinder() {
  std::fputs("macho loader: lazy binder called\n", stderr);
  std::abort();
}

template <typename F>
void *address(F *f) {
  return reinterpret_cast<void *>(f);
}

struct Import {
  const char *dylib, *name;
  void *address;
};

const char kLibSystem[] = "/usr/lib/libSystem.B.dylib";
const char kLibMx[] = "@rpath/libmx.dylib";
const char kLibMex[] = "@rpath/libmex.dylib";

const std::vector<Import> &imports() {
  using D1 = double(double);
  using D2 = double(double, double);
  static const std::vector<Import> table = {
    {kLibSystem, "_pow", address<D2>(std::pow)},
    {kLibSystem, "_atan2", address<D2>(std::atan2)},
    {kLibSystem, "_hypot", address<D2>(std::hypot)},
    {kLibSystem, "_asin", address<D1>(std::asin)},
    {kLibSystem, "_sin", address<D1>(std::sin)},
    {kLibSystem, "_cos", address<D1>(std::cos)},
    {kLibSystem, "_frexp", address<double(double, int *)>(std::frexp)},
    {kLibSystem, "_ldexp", address<double(double, int)>(std::ldexp)},
    {kLibSystem, "_ilogb", address<int(double)>(std::ilogb)},
    {kLibSystem, "___sincos_stret", address(sinCos)},
    {kLibSystem, "_memcpy",
     address<void *(void *, const void *, size_t)>(std::memcpy)},
#if defined(__aarch64__)
    {kLibSystem, "_vsnprintf", address(appleVsnprintf)},
#else
    {kLibSystem, "_vsnprintf",
     address<int(char *, size_t, const char *, va_list)>(std::vsnprintf)},
#endif
    {kLibSystem, "___stack_chk_guard", &stackGuard},
    {kLibSystem, "___stack_chk_fail", address(stackCheckFailed)},
    {kLibSystem, "dyld_stub_binder", address(lazyBinder)},
    {kLibMx, "_mxGetM", address(mxGetM)},
    {kLibMx, "_mxGetN", address(mxGetN)},
    {kLibMx, "_mxGetNumberOfElements", address(mxGetNumberOfElements)},
    {kLibMx, "_mxGetClassID", address(mxGetClassID)},
    {kLibMx, "_mxGetClassName", address(mxGetClassName)},
    {kLibMx, "_mxIsNumeric", address(isNumeric)},
    {kLibMx, "_mxIsComplex", address(isComplex)},
    {kLibMx, "_mxIsSparse", address(isSparse)},
    {kLibMx, "_mxGetScalar", address(mxGetScalar)},
    {kLibMx, "_mxGetPr", address(mxGetPr)},
    {kLibMx, "_mxDestroyArray", address(mxDestroyArray)},
    {kLibMx, "_mxCreateDoubleMatrix_700", address(createDoubleMatrix700)},
    {kLibMx, "_mxCreateNumericArray_700", address(createNumericArray700)},
#if defined(__aarch64__)
    {kLibMex, "_mexErrMsgIdAndTxt", address(scenemap_macho_apple_errmsg)},
#else
    {kLibMex, "_mexErrMsgIdAndTxt", address(errMsgIdAndTxt)},
#endif
  };
  return table;
}

// The address of a symbol in the export trie, relative to the Mach-O
// header: each node holds the symbol's data if a name ends there, then its
// edges (a label and the child's offset).
bool findExport(Cursor trie, const char *name, std::uint64_t *offset) {
  const char *rest = name;
  for (int depth = 0; depth < 256; ++depth) {
    const std::uint64_t terminalSize = trie.uleb();
    if (*rest == '\0') {
      if (terminalSize == 0) return false;
      const std::uint64_t flags = trie.uleb();
      if (flags != 0) fail(std::string(name) + " is not a plain function");
      *offset = trie.uleb();
      return true;
    }
    for (std::uint64_t skip = 0; skip < terminalSize; ++skip) trie.byte();
    const unsigned children = trie.byte();
    bool followed = false;
    for (unsigned c = 0; c < children && !followed; ++c) {
      const char *label = trie.cstring();
      const std::uint64_t child = trie.uleb();
      const std::size_t len = std::strlen(label);
      if (std::strncmp(rest, label, len) == 0) {
        rest += len;
        trie.seek(child);
        followed = true;
      }
    }
    if (!followed) return false;
  }
  fail("export trie too deep");
}

// The load commands the loader reads.
struct Commands {
  std::vector<Segment> segments;
  std::vector<std::string> dylibs;  // install names, in ordinal order
  std::uint64_t dyldInfo = 0;       // file offset of LC_DYLD_INFO(_ONLY)
};

Commands readCommands(const std::vector<std::uint8_t> &file) {
  if (field<std::uint32_t>(file, 0) != kMagic ||
      field<std::uint32_t>(file, 4) != kCpu)
    fail(std::string("not an ") + kArch + " Mach-O file");
  if (field<std::uint32_t>(file, 12) != kFileBundle)
    fail("not a Mach-O bundle");
  Commands commands;
  const std::uint32_t ncmds = field<std::uint32_t>(file, 16);
  std::uint64_t at = kHeaderSize;
  for (std::uint32_t i = 0; i < ncmds; ++i) {
    const std::uint32_t cmd = field<std::uint32_t>(file, at);
    const std::uint32_t size = field<std::uint32_t>(file, at + 4);
    if (size < 8) fail("bad load command size");
    if (cmd == kCmdSegment && k64) {
      commands.segments.push_back({field<std::uint64_t>(file, at + 24),
                                   field<std::uint64_t>(file, at + 32),
                                   field<std::uint64_t>(file, at + 40),
                                   field<std::uint64_t>(file, at + 48),
                                   field<std::uint32_t>(file, at + 60)});
    } else if (cmd == kCmdSegment) {
      commands.segments.push_back({field<std::uint32_t>(file, at + 24),
                                   field<std::uint32_t>(file, at + 28),
                                   field<std::uint32_t>(file, at + 32),
                                   field<std::uint32_t>(file, at + 36),
                                   field<std::uint32_t>(file, at + 44)});
    } else if (cmd == kCmdLoadDylib) {
      std::string name;
      for (std::uint64_t k = at + field<std::uint32_t>(file, at + 8);
           k < at + size; ++k) {
        const char c = static_cast<char>(field<std::uint8_t>(file, k));
        if (c == '\0') break;
        name += c;
      }
      commands.dylibs.push_back(name);
    } else if (cmd == kCmdDyldInfo || cmd == kCmdDyldInfoOnly) {
      commands.dyldInfo = at;
    } else if (cmd == kCmdChainedFixups) {
      fail("uses chained fixups, which this loader does not apply");
    } else if (cmd & kReqDyld) {
      // Weak and re-exported dylibs among them: they would shift ordinals.
      fail("needs load command " + std::to_string(cmd & ~kReqDyld) +
           ", which this loader does not know");
    }
    at += size;
  }
  if (commands.segments.empty() || commands.dyldInfo == 0)
    fail("has no segments or no dyld information");
  return commands;
}

// The segments as mapped: `low` is the lowest segment address, mapped at
// `base`.
struct Image {
  std::uint8_t *base;
  std::uint64_t low;
  const std::vector<Segment> &segments;

  // The pointer slot an opcode stream's segment index and offset name.
  std::uint8_t *slot(std::uint64_t segment, std::uint64_t offset) const {
    if (segment >= segments.size() || segments[segment].vmsize < kPointer ||
        offset > segments[segment].vmsize - kPointer)
      fail("fixup outside its segment");
    return base + (segments[segment].vmaddr - low) + offset;
  }
};

// Rebase opcodes: add the slide to every pointer they name.
void applyRebases(Cursor c, const Image &image) {
  const std::uintptr_t slide = reinterpret_cast<std::uintptr_t>(image.base) -
                               static_cast<std::uintptr_t>(image.low);
  std::uint64_t segment = 0, offset = 0;
  auto rebase = [&] {
    std::uint8_t *p = image.slot(segment, offset);
    storePointer(p, loadPointer(p) + slide);
    offset += kPointer;
  };
  while (!c.atEnd()) {
    const std::uint8_t b = c.byte();
    const unsigned imm = b & 0x0f;
    switch (b & 0xf0) {
      case 0x00:  // done
        return;
      case 0x10:  // set type: the modules' data holds plain pointers only
        if (imm != 1) fail("unsupported rebase type");
        break;
      case 0x20:  // set segment and offset
        segment = imm;
        offset = c.uleb();
        break;
      case 0x30:  // add address
        offset += c.uleb();
        break;
      case 0x40:  // add address, scaled immediate
        offset += imm * kPointer;
        break;
      case 0x50:  // rebase imm times
        for (unsigned k = 0; k < imm; ++k) rebase();
        break;
      case 0x60:  // rebase uleb times
        for (std::uint64_t k = c.uleb(); k > 0; --k) rebase();
        break;
      case 0x70:  // rebase, then add address
        rebase();
        offset += c.uleb();
        break;
      case 0x80: {  // rebase uleb times, skipping uleb bytes after each
        const std::uint64_t count = c.uleb(), skip = c.uleb();
        for (std::uint64_t k = 0; k < count; ++k) {
          rebase();
          offset += skip;
        }
        break;
      }
      default:
        fail("unknown rebase opcode");
    }
  }
}

// Bind or lazy-bind opcodes: store each named import's address plus addend.
// In the lazy stream "done" ends one entry and another may follow.
void applyBinds(Cursor c, bool lazy, const Image &image,
                const std::vector<std::string> &dylibs) {
  std::uint64_t segment = 0, offset = 0;
  std::int64_t addend = 0, ordinal = 0;
  const char *name = nullptr;
  auto bind = [&] {
    if (name == nullptr) fail("bind without a symbol");
    if (ordinal < 1 || static_cast<std::uint64_t>(ordinal) > dylibs.size())
      fail(std::string("binds ") + name + " outside its dylibs");
    storePointer(image.slot(segment, offset),
                 reinterpret_cast<std::uintptr_t>(
                     importAddress(dylibs[ordinal - 1], name)) +
                     static_cast<std::uintptr_t>(addend));
    offset += kPointer;
  };
  while (!c.atEnd()) {
    const std::uint8_t b = c.byte();
    const unsigned imm = b & 0x0f;
    switch (b & 0xf0) {
      case 0x00:  // done
        if (!lazy) return;
        break;
      case 0x10:  // dylib ordinal, immediate
        ordinal = imm;
        break;
      case 0x20:  // dylib ordinal, uleb
        ordinal = static_cast<std::int64_t>(c.uleb());
        break;
      case 0x30:  // special ordinals (self, main program, flat lookup)
        fail("binds to a special dylib ordinal");
      case 0x40:  // symbol name and flags
        if (imm & 0x1) fail("weak import");
        name = c.cstring();
        break;
      case 0x50:  // type
        if (imm != 1) fail("unsupported bind type");
        break;
      case 0x60:  // addend
        addend = c.sleb();
        break;
      case 0x70:  // segment and offset
        segment = imm;
        offset = c.uleb();
        break;
      case 0x80:  // add address
        offset += c.uleb();
        break;
      case 0x90:  // bind
        bind();
        break;
      case 0xa0:  // bind, then add address
        bind();
        offset += c.uleb();
        break;
      case 0xb0:  // bind, then add a scaled immediate
        bind();
        offset += imm * kPointer;
        break;
      case 0xc0: {  // bind uleb times, skipping uleb bytes after each
        const std::uint64_t count = c.uleb(), skip = c.uleb();
        for (std::uint64_t k = 0; k < count; ++k) {
          bind();
          offset += skip;
        }
        break;
      }
      default:
        fail("unknown bind opcode");
    }
  }
}

}  // namespace

#if defined(__aarch64__)
extern "C" void scenemap_macho_apple_errmsg_slots(const char *id,
                                                  const char *fmt,
                                                  void *slots) {
  withAppleArgs(slots, [&](std::va_list args) { raise(id, fmt, args); });
  std::abort();  // not reached: raise leaves by a long jump
}
#endif

void *importAddress(const std::string &dylib, const char *name) {
  for (const Import &i : imports())
    if (dylib == i.dylib && std::strcmp(name, i.name) == 0) return i.address;
  fail(std::string("imports ") + name + " from " + dylib +
       ", which this loader does not provide");
}

bool isMachO(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::uint8_t magic[4] = {};
  in.read(reinterpret_cast<char *>(magic), sizeof magic);
  // The magic numbers as little-endian 32- and 64-bit files store them; a
  // bundle of another architecture is then refused by name.
  return in && (magic[0] == 0xce || magic[0] == 0xcf) && magic[1] == 0xfa &&
         magic[2] == 0xed && magic[3] == 0xfe;
}

Bundle::Bundle(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("cannot read " + path);
  const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
  const Commands commands = readCommands(file);
  const std::vector<Segment> &segments = commands.segments;

  // One private mapping for all segments at their relative addresses.
  const std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  std::uint64_t low = UINT64_MAX, high = 0, header = UINT64_MAX;
  for (const Segment &s : segments) {
    if (s.filesize > s.vmsize || s.fileoff > file.size() ||
        file.size() - s.fileoff < s.filesize)
      fail("segment beyond the end of the file");
    if (s.vmsize == 0) continue;
    if (s.vmaddr % page != 0 || s.vmsize > UINT64_MAX - s.vmaddr)
      fail("segment not page-aligned");
    low = std::min(low, s.vmaddr);
    high = std::max(high, s.vmaddr + s.vmsize);
    if (s.fileoff == 0 && s.filesize != 0) header = s.vmaddr;
  }
  if (high <= low || high - low > (std::uint64_t(1) << (k64 ? 32 : 30)))
    fail("implausible segment layout");
  if (header == UINT64_MAX) fail("no segment maps the header");
  size_ = static_cast<std::size_t>((high - low + page - 1) / page * page);
  base_ = mmap(nullptr, size_, PROT_READ | PROT_WRITE,
               MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base_ == MAP_FAILED) {
    base_ = nullptr;
    fail("cannot map " + std::to_string(size_) + " bytes");
  }
  try {
    const Image image{static_cast<std::uint8_t *>(base_), low, segments};
    for (const Segment &s : segments)
      if (s.filesize != 0)
        std::memcpy(image.base + (s.vmaddr - low), file.data() + s.fileoff,
                    s.filesize);

    // The opcode streams and the export trie, by their offset's place in
    // the dyld information command.
    auto stream = [&](std::uint64_t at) {
      const std::uint32_t off =
          field<std::uint32_t>(file, commands.dyldInfo + at);
      const std::uint32_t len =
          field<std::uint32_t>(file, commands.dyldInfo + at + 4);
      if (off > file.size() || file.size() - off < len)
        fail("dyld information beyond the end of the file");
      return Cursor(file.data() + off, file.data() + off + len);
    };
    applyRebases(stream(8), image);
    // The lazy pointers are bound now too, so no call reaches the lazy
    // binder. Weak binds would coalesce the module's weak definitions with
    // other images'; alone in this process, its own definitions stand.
    applyBinds(stream(16), false, image, commands.dylibs);
    applyBinds(stream(32), true, image, commands.dylibs);

    std::uint64_t entry = 0;
    if (!findExport(stream(40), "_mexFunction", &entry))
      fail("has no _mexFunction");
    if (entry >= high - header) fail("_mexFunction outside the image");
    entry_ = reinterpret_cast<Entry>(image.base + (header - low) + entry);

    // The segments' own protections: code read and execute, data read and
    // write. Code written through the data cache is made visible to
    // instruction fetch first (a no-op on x86).
    for (const Segment &s : segments) {
      if (s.vmsize == 0) continue;
      if (s.initprot & 4) {
        char *code = reinterpret_cast<char *>(image.base + (s.vmaddr - low));
        __builtin___clear_cache(code, code + s.vmsize);
      }
      const int prot = ((s.initprot & 1) ? PROT_READ : 0) |
                       ((s.initprot & 2) ? PROT_WRITE : 0) |
                       ((s.initprot & 4) ? PROT_EXEC : 0);
      if (mprotect(image.base + (s.vmaddr - low),
                   (s.vmsize + page - 1) / page * page, prot) != 0)
        fail("cannot protect a segment");
    }
  } catch (...) {
    munmap(base_, size_);
    base_ = nullptr;
    throw;
  }
}

Bundle::~Bundle() {
  if (base_ != nullptr) munmap(base_, size_);
}

void call(Entry entry, int nlhs, mxArray **plhs, int nrhs,
          const mxArray **prhs) {
  Boundary b;
  Boundary *const outer = innermost;
  innermost = &b;
  if (setjmp(b.jump) == 0) {
    entry(nlhs, plhs, nrhs, prhs);
    innermost = outer;
    return;
  }
  innermost = outer;
  throw MexError(b.id, b.message);
}

}  // namespace macho
}  // namespace mxhost
