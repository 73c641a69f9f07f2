// The allocation record behind DV_CHECK_ALLOC: an open-addressing table of
// live blocks in memory of its own (mmap), so that recording never allocates
// through the allocator it watches.
#include "core/alloc_check.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

constexpr size_t MAX_LIVE_BLOCKS = 1048576;
constexpr int TABLE_BITS = 21;  // twice the live limit keeps probe runs short
constexpr size_t TABLE_SLOTS = size_t(1) << TABLE_BITS;

struct Slot {
  uintptr_t block;  // 0: empty
  int serial;
};

enum State { STATE_UNKNOWN, STATE_OFF, STATE_ON, STATE_STOPPED };

// Constant-initialised: operator new runs before any constructor.
std::atomic<int> g_state{STATE_UNKNOWN};
std::mutex g_mutex;
Slot* g_table = nullptr;
size_t g_live = 0;
int g_next_serial = 0;

size_t slot_of(uintptr_t block) {
  return (size_t)((block >> 4) * 0x9E3779B97F4A7C15ull >> (64 - TABLE_BITS));
}

// Decides on first use; the table is mapped only when checking is wanted.
int state() {
  int s = g_state.load(std::memory_order_acquire);
  if (s != STATE_UNKNOWN) return s;
  std::lock_guard<std::mutex> lock(g_mutex);
  s = g_state.load(std::memory_order_relaxed);
  if (s != STATE_UNKNOWN) return s;
  s = STATE_OFF;
  if (getenv("DV_CHECK_ALLOC")) {
    void* memory = mmap(nullptr, TABLE_SLOTS * sizeof(Slot), PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (memory != MAP_FAILED) {
      g_table = static_cast<Slot*>(memory);
      s = STATE_ON;
    }
  }
  g_state.store(s, std::memory_order_release);
  return s;
}

// Linear probing with backward-shift deletion: no tombstones to pile up.
void remove_slot(size_t i) {
  size_t mask = TABLE_SLOTS - 1;
  size_t hole = i;
  for (size_t j = (i + 1) & mask; g_table[j].block; j = (j + 1) & mask) {
    size_t home = slot_of(g_table[j].block);
    // Move j into the hole unless its home lies cyclically in (hole, j].
    bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
    if (!stays) {
      g_table[hole] = g_table[j];
      hole = j;
    }
  }
  g_table[hole].block = 0;
}

}  // namespace

void alloc_check_record(void* block) {
  if (!block || state() != STATE_ON) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_state.load(std::memory_order_relaxed) != STATE_ON) return;
  if (g_live >= MAX_LIVE_BLOCKS) {
    g_state.store(STATE_STOPPED, std::memory_order_release);
    fputs("Too many allocations to check!\n", stderr);
    return;
  }
  uintptr_t key = reinterpret_cast<uintptr_t>(block);
  size_t mask = TABLE_SLOTS - 1;
  size_t i = slot_of(key);
  while (g_table[i].block && g_table[i].block != key) i = (i + 1) & mask;
  if (!g_table[i].block) g_live++;
  g_table[i].block = key;
  g_table[i].serial = g_next_serial++;
}

bool alloc_check_release(void* block) {
  if (!block || state() != STATE_ON) return true;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_state.load(std::memory_order_relaxed) != STATE_ON) return true;
  uintptr_t key = reinterpret_cast<uintptr_t>(block);
  size_t mask = TABLE_SLOTS - 1;
  for (size_t i = slot_of(key); g_table[i].block; i = (i + 1) & mask) {
    if (g_table[i].block == key) {
      remove_slot(i);
      g_live--;
      return true;
    }
  }
  // Freeing it would corrupt the heap (a double free or a foreign pointer);
  // keeping it leaks one block at worst.
  fprintf(stderr, "Allocation not found for %p!\n", block);
  return false;
}

bool allocation_checking_active() { return state() == STATE_ON; }

size_t allocation_check_live_count() {
  if (state() != STATE_ON) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_live;
}

void print_allocation_report() {
  if (state() != STATE_ON) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_live == 0) return;
  void* memory = mmap(nullptr, g_live * sizeof(Slot), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return;
  Slot* live = static_cast<Slot*>(memory);
  size_t n = 0;
  for (size_t i = 0; i < TABLE_SLOTS && n < g_live; i++)
    if (g_table[i].block) live[n++] = g_table[i];
  std::sort(live, live + n, [](const Slot& a, const Slot& b) { return a.serial < b.serial; });
  for (size_t i = 0; i < n; i++) fprintf(stderr, "%p:%d\n", reinterpret_cast<void*>(live[i].block), live[i].serial);
  munmap(memory, g_live * sizeof(Slot));
}
