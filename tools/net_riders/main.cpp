// net_riders: joins a race server with one or many headless riders.
//
//   net_riders --connect HOST[:PORT] [--riders N] [--mode scripted|idle]
//               [--speed FT_PER_S] [--seconds S] [--races N] [--fake-lag S]
//               [--fake-loss PERCENT] [--name PREFIX] [--data DIR]... [--home DIR]
//
// Runs until every rider has seen the results of N races (default 1) or the
// time is up, then prints what the riders received: states from every other
// rider, the states that never came, the worst and mean delay of a state,
// the bytes per second per rider each way, and whether every rider's final running order matched the
// others'. Ends with 0 when the races were run and everyone agreed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/datafile.h"
#include "platform/clock.h"
#include "render/texture.h"
#include "tools/net_riders/headless_rider.h"

namespace {

void usage() {
  fprintf(stderr,
          "usage: net_riders --connect HOST[:PORT] [--riders N] [--mode scripted|idle] [--speed FT_PER_S]\n"
          "                  [--seconds S] [--races N] [--fake-lag S] [--fake-loss PERCENT] [--name PREFIX]\n"
          "                  [--data DIR]... [--home DIR]\n");
}

bool number(const char* text, double lo, double hi, double* out) {
  char* end = nullptr;
  double v = strtod(text, &end);
  if (end == text || *end || !(v >= lo && v <= hi)) return false;
  *out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string address, prefix = "Runner", home;
  std::vector<std::string> directories;
  double riders = 1, seconds = 600, races = 1, lag = 0, loss = 0, speed = 45;
  int mode = RIDER_SCRIPTED;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    bool ok = v != nullptr;
    if (a == "--connect" && v) address = v;
    else if (a == "--riders" && v) ok = number(v, 1, MAX_BIKES, &riders);
    else if (a == "--seconds" && v) ok = number(v, 1, 86400, &seconds);
    else if (a == "--races" && v) ok = number(v, 0, 1000, &races);
    else if (a == "--fake-lag" && v) ok = number(v, 0, 1, &lag);
    else if (a == "--fake-loss" && v) ok = number(v, 0, 100, &loss);
    else if (a == "--speed" && v) ok = number(v, 1, 200, &speed);
    else if (a == "--name" && v) prefix = v;
    else if (a == "--data" && v) directories.push_back(v);
    else if (a == "--home" && v) home = v;
    else if (a == "--mode" && v) {
      ok = strcmp(v, "scripted") == 0 || strcmp(v, "idle") == 0;
      mode = strcmp(v, "idle") == 0 ? RIDER_IDLE : RIDER_SCRIPTED;
    } else {
      usage();
      return a == "--help" ? 0 : 1;
    }
    if (!ok) {
      fprintf(stderr, "Bad value for %s\n", a.c_str());
      return 1;
    }
    i++;
  }
  if (address.empty()) {
    usage();
    return 1;
  }
  if (!home.empty() || !directories.empty()) {
    std::vector<std::string> search;
    search.push_back(home.empty() ? "." : home);
    search.insert(search.end(), directories.begin(), directories.end());
    set_search_directories(search);
  }
  install_shutdown_signals();

  RunnerWorld world;
  init_runner_world(&world);
  std::vector<std::unique_ptr<HeadlessRider>> list;
  for (int i = 0; i < (int)riders; i++) {
    list.push_back(std::make_unique<HeadlessRider>());
    HeadlessRider* r = list.back().get();
    init_headless_rider(r, &world, i, prefix.c_str());
    r->mode = mode;
    r->speed = (float)speed;
    if (lag > 0 || loss > 0) set_fake_link(&r->client, lag, (int)loss, (uint32_t)(i + 1) * 7919u);
    net_connect(&r->client, address.c_str());
  }

  const double start = platform_seconds();
  std::vector<int> agreed_races;
  std::vector<int> seen(list.size(), 0);
  int races_done = 0, disagreements = 0;
  std::vector<std::vector<int>> orders(list.size());
  while (!shutdown_requested() && platform_seconds() - start < seconds && (races <= 0 || races_done < (int)races)) {
    const double now = platform_seconds();
    for (auto& r : list) run_headless_rider(r.get(), now);
    // A race is done when every rider holds the whole results table.
    bool all = true;
    for (size_t i = 0; i < list.size(); i++) {
      HeadlessRider& r = *list[i];
      if (r.results_seen && r.results.size() >= list.size() && seen[i] == races_done) {
        orders[i] = r.final_order;
        seen[i]++;
        r.results_seen = false;
      }
      all = all && seen[i] > races_done;
    }
    if (all) {
      for (size_t i = 1; i < list.size(); i++)
        if (orders[i] != orders[0]) disagreements++;
      races_done++;
      printf("race %d: %s\n", races_done, disagreements ? "riders disagree on the order" : "every rider has the same order");
    }
    precise_sleep(0.001);
  }
  const double elapsed = platform_seconds() - start;

  long in = 0, out = 0, states = 0, missed = 0, send_failures = 0;
  int worst = 0, silent_pairs = 0;
  long delay_sum = 0, delay_count = 0;
  for (auto& r : list) {
    in += r->client.bytes_received;
    out += r->client.bytes_sent;
    worst = std::max(worst, r->worst_delay);
    missed += r->states_missed;
    send_failures += r->client.send_failures;
    delay_sum += r->delay_sum;
    delay_count += r->delay_count;
    for (auto& other : list) {
      const int slot = other->client.client_slot;
      if (other.get() == r.get() || slot == NO_BIKE) continue;
      states += r->states_received[slot];
      if (r->states_received[slot] == 0) silent_pairs++;
    }
  }
  // With DV_RIDER_MESSAGES set, what the first rider's client said.
  if (getenv("DV_RIDER_MESSAGES") && !list.empty())
    for (const std::string& m : list[0]->messages) printf("rider 1: %s", m.c_str());
  const double n = (double)list.size();
  printf("riders %d, %.1f s, races %d\n", (int)list.size(), elapsed, races_done);
  printf("per rider: %.0f bytes/s in, %.0f bytes/s out\n", in / n / elapsed, out / n / elapsed);
  printf("states received %ld; rider pairs with none: %d\n", states, silent_pairs);
  printf("states missed %ld (%.2f%% of those due); sends failed %ld\n", missed,
         states + missed > 0 ? 100.0 * (double)missed / (double)(states + missed) : 0.0, send_failures);
  printf("worst state delay %d ticks (%.1f ms), mean %.2f ticks\n", worst, worst * TICK_SECONDS * 1000.0,
         delay_count ? (double)delay_sum / (double)delay_count : 0.0);
  for (auto& r : list) net_shutdown(&r->client);
  free_runner_world(&world);
  purge_textures(true);
  const bool ok = (races <= 0 || races_done >= (int)races) && disagreements == 0 && silent_pairs == 0;
  return ok ? 0 : 2;
}
