// The ".saf" header parser on arbitrary bytes: it must never read past them,
// and what it accepts must describe members inside the archive.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/datafile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<ArchiveMember> members;
  if (!parse_archive_header(data, size, members)) {
    if (!members.empty()) abort();
    return 0;
  }
  long end = 0;
  for (const ArchiveMember& m : members) {
    if (m.name.empty() || m.length < 0 || m.offset < end) abort();
    end = m.offset + m.length;
  }
  if (end > (long)size) abort();
  return 0;
}
