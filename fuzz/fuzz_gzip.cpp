// Gzip streams from arbitrary bytes, read through every stream operation.
#include <cstdint>

#include "core/datafile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DataStream* s = data_open_gzip_memory(data, size);
  if (!s) return 0;
  char line[40];
  unsigned char block[300];
  for (int round = 0; round < 100000; round++) {
    int op = round % 5;
    if (op == 0 && data_getc(s) < 0) break;
    if (op == 1 && !data_gets(line, sizeof line, s)) break;
    if (op == 2 && data_read(s, block, sizeof block) == 0) break;
    if (op == 3) {
      int a;
      char word[16];
      if (data_scanf(s, "%d %15s", &a, word) < 0) break;
    }
    if (op == 4) data_peekc(s);
  }
  data_tell(s);
  data_stream_failed(s);
  data_close(s);
  return 0;
}
