// The race server and the race runner as programs: a server on a free port,
// three headless riders racing a lap, the runner's verdict, and the
// operator's command file stopping the server.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "net/socket.h"
#include "platform/clock.h"
#include "tests/track/track_fixture.h"

namespace {

int free_port() {
  int s = open_socket();
  bind_socket(s, 0);
  int port = socket_port(s);
  close_socket(s);
  return port;
}

pid_t start(const std::vector<std::string>& args, const std::string& output) {
  pid_t pid = fork();
  if (pid == 0) {
    FILE* out = freopen(output.c_str(), "w", stdout);
    (void)out;
    dup2(1, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// Exit status, or -1 when it had not ended after `seconds`.
int wait_for(pid_t pid, double seconds) {
  const double end = platform_seconds() + seconds;
  int status = 0;
  while (platform_seconds() < end) {
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    precise_sleep(0.05);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

}  // namespace

TEST(RacePrograms, ServerAndRunnerRaceALap) {
  ScratchData data;
  build_fixture_track(data, "rabbithill", true);
  const std::string port = std::to_string(free_port());
  const std::string server_out = data.path("server.txt"), runner_out = data.path("runner.txt");
  pid_t server = start({RACE_SERVER_PATH, "--data", data.root, "--home", data.root, "--set", "port=" + port, "--set",
                        "track=rabbithill", "--set", "laps=1", "--set", "warmup=2", "--set", "gate_drop=1.5",
                        "--set", "command_file=@commands.txt", "--set", "log_file=" + data.path("server.log")},
                       server_out);
  pid_t runner = start({NET_RIDERS_PATH, "--connect", "127.0.0.1:" + port, "--riders", "3", "--races", "1",
                        "--seconds", "60", "--data", data.root, "--home", data.root},
                       runner_out);
  const int runner_status = wait_for(runner, 90);
  data.write("commands.txt", "status\nquit\n");
  const int server_status = wait_for(server, 10);
  const std::string report = data.read("runner.txt");
  EXPECT_EQ(runner_status, 0) << report;
  EXPECT_NE(report.find("race 1: every rider has the same order"), std::string::npos) << report;
  EXPECT_NE(report.find("rider pairs with none: 0"), std::string::npos) << report;
  EXPECT_EQ(server_status, 0);
  const std::string log = data.read("server.log");
  EXPECT_NE(log.find("Results on rabbithill"), std::string::npos) << log;
  EXPECT_NE(log.find("> quit"), std::string::npos) << log;
  EXPECT_NE(data.read("server.txt").find("CPU "), std::string::npos);
}

TEST(RacePrograms, BadSettingsEndTheServerWithAMessage) {
  ScratchData data;
  const std::string out = data.path("server.txt");
  pid_t server = start({RACE_SERVER_PATH, "--set", "laps=many"}, out);
  EXPECT_EQ(wait_for(server, 10), 1);
  EXPECT_NE(data.read("server.txt").find("Bad value 'many' for 'laps'"), std::string::npos);
  // No tracks installed: nothing to race on.
  server = start({RACE_SERVER_PATH, "--data", data.root, "--home", data.root, "--set", "port=0"}, out);
  EXPECT_EQ(wait_for(server, 10), 1);
  EXPECT_NE(data.read("server.txt").find("No tracks to race on"), std::string::npos);
}
