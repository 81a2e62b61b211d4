// halvoran: runs a dialect program as a process, frame after frame, until it ends.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kernel/kernel.h"
#include "lua/auxlib.h"
#include "lua/listing.h"
#include "lua/state.h"

namespace {

void usage() {
  std::fprintf(stderr,
               "usage: halvoran [options] FILE | -e CODE | -\n"
               "  --budget N     run slices of N cycles instead of whole frames\n"
               "  --frames N     stop after N frames (exit status 3)\n"
               "  --cycles       print the cycles of every slice to standard error\n"
               "  --list FILE    print the compiled code of FILE\n"
               "  --dump OUT FILE  write FILE compiled as a binary chunk to OUT\n");
}

bool read_file(const char *path, std::string &out) {
  FILE *f = (std::strcmp(path, "-") == 0) ? stdin : std::fopen(path, "rb");
  if (!f) return false;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  if (f != stdin) std::fclose(f);
  return true;
}

std::string base_name(const char *path) {
  const char *s = std::strrchr(path, '/');
  return s ? s + 1 : path;
}

void print_error(Process *, const char *msg, const char *tb) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", msg ? msg : "(error object is not a string)");
  if (tb) std::fprintf(stderr, "%s\n", tb);
}

// Compiles a file (text or binary) in a bare state for --list and --dump.
lua_State *compile_file(const char *path, const std::string &src) {
  cproc = &processes[MAX_PROCESSES - 1];
  lua_State *L = lua_newstate(l_alloc, cproc);
  if (!L) return nullptr;
  std::string chunk = "@" + base_name(path);
  if (luaL_loadbufferx(L, src.data(), src.size(), chunk.c_str(), nullptr) != LUA_OK) {
    std::fprintf(stderr, "%s\n", lua_tostring(L, -1));
    lua_close(L);
    return nullptr;
  }
  return L;
}

int writer(lua_State *, const void *p, size_t sz, void *ud) {
  return std::fwrite(p, 1, sz, static_cast<FILE *>(ud)) == sz ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
  long long budget = 0, max_frames = -1;
  bool trace = false;
  const char *list_file = nullptr, *dump_out = nullptr, *code = nullptr, *file = nullptr;
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i];
    auto next = [&](const char *opt) -> const char * {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "halvoran: %s needs an argument\n", opt);
        std::exit(2);
      }
      return argv[++i];
    };
    if (!std::strcmp(a, "--budget")) {
      budget = std::atoll(next(a));
      if (budget < 1 || budget > INT32_MAX / 2) {
        std::fprintf(stderr, "halvoran: bad budget\n");
        return 2;
      }
    } else if (!std::strcmp(a, "--frames")) {
      max_frames = std::atoll(next(a));
    } else if (!std::strcmp(a, "--cycles")) {
      trace = true;
    } else if (!std::strcmp(a, "--list")) {
      list_file = next(a);
    } else if (!std::strcmp(a, "--dump")) {
      dump_out = next(a);
    } else if (!std::strcmp(a, "-e")) {
      code = next(a);
    } else if (!std::strcmp(a, "-h") || !std::strcmp(a, "--help")) {
      usage();
      return 0;
    } else if (a[0] == '-' && a[1] != '\0') {
      std::fprintf(stderr, "halvoran: unknown option %s\n", a);
      usage();
      return 2;
    } else {
      file = a;
      break;
    }
  }
  if (list_file || dump_out) {
    const char *path = list_file ? list_file : file;
    std::string src;
    if (!path || !read_file(path, src)) {
      std::fprintf(stderr, "halvoran: cannot read %s\n", path ? path : "(none)");
      return 1;
    }
    lua_State *L = compile_file(path, src);
    if (!L) return 1;
    int rc = 0;
    if (list_file) {
      print_listing(stdout, clLvalue(s2v(L->top - 1))->p);
    } else {
      FILE *out = std::fopen(dump_out, "wb");
      if (!out || lua_dump(L, writer, out, 0) != 0) rc = 1;
      if (out) std::fclose(out);
    }
    lua_close(L);
    return rc;
  }
  std::string program, name, chunkname;
  if (code) {
    program = code;
    name = "(command line)";
    chunkname = "=(command line)";
  } else if (file) {
    if (!read_file(file, program)) {
      std::fprintf(stderr, "halvoran: cannot open %s: %s\n", file, std::strerror(errno));
      return 1;
    }
    name = std::strcmp(file, "-") == 0 ? "stdin" : base_name(file);
  } else {
    usage();
    return 2;
  }

  report_process_error = print_error;
  Process *p = &processes[0];
  char err[1024];
  if (init_process(p, 1, program.c_str(), name.c_str(), file ? file : name.c_str(), err, sizeof err,
                   chunkname.empty() ? nullptr : chunkname.c_str()) != 0) {
    std::fprintf(stderr, "%s\n", err);
    return 1;
  }
  p->alloc_cycles = p->spend_cycles = 0; // count only what the program's slices spend

  long long frames = 0, slices = 0, total = 0;
  int status = LUA_OK;
  while (p->state == ProcState::Running) {
    if (max_frames >= 0 && frames >= max_frames) {
      std::fflush(stdout);
      std::fprintf(stderr, "halvoran: stopped after %lld frames\n", frames);
      if (trace)
        std::fprintf(stderr, "cycles total=%lld vm=%lld alloc=%lld spend=%lld slices=%lld\n", total,
                     total - p->alloc_cycles - p->spend_cycles, (long long)p->alloc_cycles,
                     (long long)p->spend_cycles, slices);
      free_process(p);
      return 3;
    }
    frames++;
    frame_cycles_left = budget ? (int32_t)budget : FRAME_CYCLES;
    int64_t booked = run_process_slice(p, budget ? 1e12 : 1.0, &status);
    slices++;
    total += p->last_slice_end - p->last_slice_start;
    if (trace)
      std::fprintf(stderr, "slice %lld start=%lld end=%lld booked=%lld status=%s\n", slices,
                   (long long)p->last_slice_start, (long long)p->last_slice_end, (long long)booked,
                   status == LUA_OK ? "OK" : status == LUA_YIELD ? "YIELD" : "ERROR");
  }
  std::fflush(stdout);
  if (trace)
    std::fprintf(stderr, "cycles total=%lld vm=%lld alloc=%lld spend=%lld slices=%lld\n", total,
                 total - p->alloc_cycles - p->spend_cycles, (long long)p->alloc_cycles,
                 (long long)p->spend_cycles, slices);
  bool failed = p->state == ProcState::Error;
  free_process(p);
  return failed ? 1 : 0;
}
