// What the shared database costs a station, against a throw-away cluster.
//
// BM_Upload1000: 1,000 finished rows waiting in a local file uploaded in one
// go (connection, schema check, one transaction, the local marks).
// BM_OperationServerAway: one operation's two local transactions with an
// uploader pointed at a port that takes connections and never answers (a
// server that hangs), against the same without a server: the operation must
// not notice (delay ~0).  Counter background_s: what the uploader's attempt
// for that operation costs on its own thread (one connection timeout, 1 s here).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>

#include "common/history/history.h"
#include "common/history_server/history_server.h"
#include "common/history_server/tests/pg_cluster.h"
#include "common/history_server/uploader.h"
#include "common/testing/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

history_server::testing::PgCluster& Cluster() {
  static history_server::testing::PgCluster cluster;
  static const bool roles = cluster.Ok() && cluster.AddRole("owner", "secret").empty() &&
                            cluster.Admin("CREATE DATABASE receivers OWNER owner").empty();
  (void)roles;
  return cluster;
}

history::Start Operation() { return {"torvix-cli", "1.0.0", "upgrade", "all", "COM1", {}, {}, "UNIT-1"}; }

void BM_Upload1000(benchmark::State& state) {
  if (!Cluster().Ok()) {
    state.SkipWithError(Cluster().Error().c_str());
    return;
  }
  const history_server::Server server{Cluster().Conninfo("owner", "receivers"), std::chrono::seconds(3), "bench"};
  for (auto _ : state) {
    state.PauseTiming();
    common::testing::TempFolder folder("rt-upload-bench");
    const std::string path = folder / "history.sqlite";
    {
      history::Recorder recorder({true, path}, {});
      for (int i = 0; i < 1000; ++i) recorder.Begin(Operation()).Finish(history::kOk, 0);
    }
    state.ResumeTiming();
    const history_server::UploadResult result = history_server::Upload(server, path);
    if (result.uploaded != 1000) state.SkipWithError(("upload: " + result.message).c_str());
  }
}
BENCHMARK(BM_Upload1000)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void BM_OperationServerAway(benchmark::State& state) {
  const bool withServer = state.range(0) != 0;
  const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(silent, 64);
  ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
  const history_server::Server server{"host=127.0.0.1 port=" + std::to_string(ntohs(address.sin_port)) + " dbname=x",
                                      std::chrono::seconds(1), "bench"};
  common::testing::TempFolder folder("rt-upload-bench");
  const std::string path = folder / "history.sqlite";
  double background = 0;
  std::int64_t attempts = 0;
  for (auto _ : state) {
    state.PauseTiming();
    history::Recorder recorder({true, path}, {});
    std::unique_ptr<history_server::Uploader> uploader;
    if (withServer) {
      uploader = std::make_unique<history_server::Uploader>(server, path, [](const std::string&) {});
      recorder.OnFinished(uploader->Cue());
      // The attempt at start is over: the operation's own attempt is measured.
      common::testing::WaitUntil([&] { return uploader->Current().attempts == 1; });
    }
    state.ResumeTiming();
    recorder.Begin(Operation()).Finish(history::kOk, 0);
    state.PauseTiming();
    if (uploader) {
      const auto start = Clock::now();
      common::testing::WaitUntil([&] { return uploader->Current().attempts == 2; });
      background += std::chrono::duration<double>(Clock::now() - start).count();
      ++attempts;
    }
    uploader.reset();
    state.ResumeTiming();
  }
  ::close(silent);
  if (attempts > 0) state.counters["background_s"] = background / static_cast<double>(attempts);
}
BENCHMARK(BM_OperationServerAway)
    ->ArgName("server")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
