// The mova program with one allocation made to fail, for the allocation-failure tests.
//   MOVA_FAIL_ALLOCATION=N       the N-th allocation after start-up (N >= 1) fails: operator new
//                                throws std::bad_alloc, the nothrow forms return null.
//   MOVA_ALLOCATION_FAILED=path  created when that allocation has failed, so that a test knows
//                                whether its run reached the N-th allocation.
// The pauses of MOVA_INIT and after each computation are switched off: they allocate nothing
// and would only make the many runs of a test slow.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <new>

#include "console/launcher.hpp"
#include "controller/mova.hpp"
#include "search/search-dstarlite.hpp"

namespace {

bool armed = false;
long countdown = 0;  // allocations left before the one that fails; 0 when none fails
const char* failed_flag = nullptr;

bool Fail_Now() {
  if (!armed || countdown == 0) return false;
  if (--countdown != 0) return false;
  if (failed_flag != nullptr) close(open(failed_flag, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  return true;
}

void* Allocate(std::size_t size) {
  if (Fail_Now()) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

void* Allocate_Aligned(std::size_t size, std::align_val_t alignment) {
  if (Fail_Now()) return nullptr;
  const auto align = static_cast<std::size_t>(alignment);
  return std::aligned_alloc(align, (size + align - 1) / align * align);
}

}  // namespace

void* operator new(std::size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  if (void* p = Allocate_Aligned(size, alignment)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return operator new(size, alignment);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}

int main() {
  if (const char* n = std::getenv("MOVA_FAIL_ALLOCATION")) countdown = std::atol(n);
  failed_flag = std::getenv("MOVA_ALLOCATION_FAILED");
  Mova::Set_Init_Pause(false);
  Search::DStarLite::Set_Pause(false);
  armed = true;
  return Launcher::Main();
}
