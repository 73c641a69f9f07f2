// The game data check and the fixed model check (RIPEMD-160 digests).
#include <nettle/ripemd160.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/data_digests.h"
#include "core/datafile.h"

namespace {

constexpr long GAME_DATA_CHECK_BYTES = 1048576;
constexpr size_t GAME_DATA_PIECE = 256;

std::string hex_digest(ripemd160_ctx& context) {
  unsigned char digest[RIPEMD160_DIGEST_SIZE];
  ripemd160_digest(&context, sizeof digest, digest);
  char hex[2 * RIPEMD160_DIGEST_SIZE + 1];
  for (size_t i = 0; i < sizeof digest; i++) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  return std::string(hex, 2 * RIPEMD160_DIGEST_SIZE);
}

}  // namespace

std::string ripemd160_hex(const void* bytes, size_t size) {
  ripemd160_ctx context;
  ripemd160_init(&context);
  ripemd160_update(&context, size, static_cast<const uint8_t*>(bytes));
  return hex_digest(context);
}

std::string game_data_digest(const char* path) {
  FILE* file = fopen(path, "rb");
  if (!file) return std::string();
  ripemd160_ctx context;
  ripemd160_init(&context);
  unsigned char piece[GAME_DATA_PIECE];
  for (long total = 0; total < GAME_DATA_CHECK_BYTES;) {
    size_t n = fread(piece, 1, sizeof piece, file);
    if (n == 0) break;
    ripemd160_update(&context, n, piece);
    total += (long)n;
  }
  fclose(file);
  return hex_digest(context);
}

bool game_data_matches(const char* digest) {
  for (int i = 0; const char* directory = search_directory(i); i++) {
    std::string path = std::string(directory) + "zzzz.saf";
    if (game_data_digest(path.c_str()) == digest) return true;
  }
  return false;
}

bool check_game_data() { return game_data_matches(GAME_DATA_DIGEST); }

std::string fixed_models_digest() {
  ripemd160_ctx context;
  ripemd160_init(&context);
  for (const char* name : FIXED_MODEL_FILES) {
    // A file that cannot be opened contributes nothing.
    DataStream* stream = data_open(name, "rb");
    if (!stream) continue;
    unsigned char block[65536];
    for (size_t n; (n = data_read(stream, block, sizeof block)) > 0;) ripemd160_update(&context, n, block);
    data_close(stream);
  }
  return hex_digest(context);
}

bool fixed_models_match(const char* const* digests, int count) {
  std::string digest = fixed_models_digest();
  for (int i = 0; i < count; i++)
    if (digest == digests[i]) return true;
  return false;
}

bool check_fixed_models() { return fixed_models_match(FIXED_MODEL_DIGESTS, 3); }
