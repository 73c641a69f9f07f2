// A small program linked with the DV_CHECK_ALLOC hooks, run by
// test_alloc_check.cpp with and without the variable set.
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "core/alloc_check.h"

// Stores through a volatile pointer keep the compiler from eliding the
// allocations under test.
void* volatile g_sink;
char g_not_from_new[16];

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  if (strcmp(mode, "leak") == 0) {
    int* leaked = new int(5);
    g_sink = leaked;
    char* freed = new char[100];
    g_sink = freed;
    delete[] freed;
    std::vector<double>* second = new std::vector<double>(1000);
    g_sink = second;
    printf("leaked %p %p %p\n", (void*)leaked, (void*)second, (void*)second->data());
    void* volatile foreign = g_not_from_new;
    printf("foreign %p\n", foreign);
    fflush(stdout);
    // Reported, and not handed to free(); without checking it would crash.
    if (allocation_checking_active()) ::operator delete(foreign);
    printf("live %zu\n", allocation_check_live_count());
    fflush(stdout);
    print_allocation_report();
    return 0;
  }
  if (strcmp(mode, "many") == 0) {
    std::vector<char*> blocks;
    blocks.reserve(1100000);
    for (int i = 0; i < 1100000; i++) {
      blocks.push_back(new char[1]);
      g_sink = blocks.back();
    }
    for (char* b : blocks) delete[] b;
    printf("active %d\n", allocation_checking_active() ? 1 : 0);
    fflush(stdout);
    print_allocation_report();
    return 0;
  }
  return 2;
}
