// kivo_probe: runs one measuring operation of CIcmpPinger against a host and
// prints the outcome as one JSON line, for the end-to-end tests.
//
//   kivo_probe.exe ping|retries|measure HOST [options]
//     --refuse-raw             the raw socket is refused, as without administrator rights
//     --second-host HOST2      a second prober measures HOST2 on its own thread at the same time
//     --stop-after-answers N   (measure) another thread cancels once N echoes have been answered
//     --stop-after-ms T        (measure) another thread cancels T ms after the start
//
// Output: {"op":...,"results":[{"host":...,"ok":...,"rtt":...,"average":...,"percent":...,
//          "answered":...,"thread_id":...,"identifier":...,"raw":...,"elapsed_ms":...}]}
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "servers/IcmpPinger.h"
#include "toolkit/Sync.h"

namespace {

using kivo::servers::CIcmpPinger;

enum class Operation { kPing, kRetries, kMeasure };

struct Options {
  Operation operation = Operation::kPing;
  std::string opName;
  std::vector<std::string> hosts;
  bool refuseRaw = false;
  int stopAfterAnswers = 0;
  int stopAfterMs = -1;
};

// A prober that can refuse its raw socket and report its answered echoes.
class ProbePinger : public CIcmpPinger {
 public:
  ProbePinger(const kivo::toolkit::CancellationToken& cancel, bool refuseRaw, int stopAfterAnswers)
      : CIcmpPinger(cancel), refuseRaw_(refuseRaw), stopAfterAnswers_(stopAfterAnswers) {}

  bool Raw() const { return UsesRawSocket(); }
  DWORD Id() const { return Identifier(); }
  int Answered() const { return answered_; }
  kivo::toolkit::Event& AnswersReached() { return answersReached_; }
  kivo::toolkit::Event& Stopped() { return stopped_; }

 protected:
  SOCKET OpenRawSocket() override { return refuseRaw_ ? INVALID_SOCKET : CIcmpPinger::OpenRawSocket(); }

  bool ReceiveEcho(int& roundTripMs) override {
    if (!CIcmpPinger::ReceiveEcho(roundTripMs)) return false;
    if (++answered_ == stopAfterAnswers_) {
      // Hold the measurement until the other thread has cancelled, so the
      // cancel lands before the next echo however the threads are scheduled.
      answersReached_.Set();
      stopped_.Wait(10000);
    }
    return true;
  }

 private:
  bool refuseRaw_;
  int stopAfterAnswers_;
  int answered_ = 0;
  kivo::toolkit::Event answersReached_;
  kivo::toolkit::Event stopped_;
};

struct Job {
  std::string host;
  kivo::toolkit::CancellationToken cancel;
  std::unique_ptr<ProbePinger> pinger;
  bool ok = false;
  int roundTrip = 0;
  float average = 0.0f;
  int percent = 0;
  DWORD threadId = 0;
  double elapsedMs = 0.0;
};

double Milliseconds() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void Run(const Options& options, Job& job) {
  job.threadId = ::GetCurrentThreadId();
  const double start = Milliseconds();
  switch (options.operation) {
    case Operation::kPing:
      job.ok = job.pinger->Ping(job.host, job.roundTrip);
      break;
    case Operation::kRetries:
      job.ok = job.pinger->PingWithRetries(job.host, job.roundTrip);
      break;
    case Operation::kMeasure:
      job.pinger->Measure(job.host, job.average, job.percent);
      job.ok = true;
      break;
  }
  job.elapsedMs = Milliseconds() - start;
}

void StopLater(const Options& options, Job& job) {
  if (options.stopAfterAnswers > 0) {
    if (job.pinger->AnswersReached().Wait(300000)) job.cancel.Cancel();
    job.pinger->Stopped().Set();
  } else if (options.stopAfterMs >= 0) {
    ::Sleep(static_cast<DWORD>(options.stopAfterMs));
    job.cancel.Cancel();
  }
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

bool ParseArguments(int argc, char** argv, Options& options) {
  if (argc < 3) return false;
  options.opName = argv[1];
  if (options.opName == "ping") {
    options.operation = Operation::kPing;
  } else if (options.opName == "retries") {
    options.operation = Operation::kRetries;
  } else if (options.opName == "measure") {
    options.operation = Operation::kMeasure;
  } else {
    return false;
  }
  options.hosts.push_back(argv[2]);
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--refuse-raw") {
      options.refuseRaw = true;
    } else if (arg == "--second-host" && hasValue) {
      options.hosts.push_back(argv[++i]);
    } else if (arg == "--stop-after-answers" && hasValue) {
      options.stopAfterAnswers = std::atoi(argv[++i]);
    } else if (arg == "--stop-after-ms" && hasValue) {
      options.stopAfterMs = std::atoi(argv[++i]);
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: kivo_probe ping|retries|measure HOST [--refuse-raw] [--second-host HOST2]\n"
                 "       [--stop-after-answers N] [--stop-after-ms T]\n");
    return 2;
  }
  std::vector<Job> jobs(options.hosts.size());
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    jobs[i].host = options.hosts[i];
    jobs[i].pinger =
        std::make_unique<ProbePinger>(jobs[i].cancel, options.refuseRaw, options.stopAfterAnswers);
  }
  {
    std::vector<std::jthread> workers(jobs.size() * 2);
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      Job& job = jobs[i];
      workers[2 * i] = std::jthread([&options, &job] { StopLater(options, job); });
      workers[2 * i + 1] = std::jthread([&options, &job] { Run(options, job); });
    }
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      workers[2 * i + 1].join();
      jobs[i].pinger->AnswersReached().Set();  // releases a stopper whose count was never reached
    }
  }

  std::string line = "{\"op\":" + JsonString(options.opName) + ",\"results\":[";
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const Job& job = jobs[i];
    char figures[400];
    std::snprintf(figures, sizeof(figures),
                  "\"ok\":%s,\"rtt\":%d,\"average\":%.3f,\"percent\":%d,\"answered\":%d,\"thread_id\":%lu,"
                  "\"identifier\":%lu,\"raw\":%s,\"elapsed_ms\":%.3f}",
                  job.ok ? "true" : "false", job.roundTrip, static_cast<double>(job.average), job.percent,
                  job.pinger->Answered(), static_cast<unsigned long>(job.threadId),
                  static_cast<unsigned long>(job.pinger->Id() & 0xFFFF), job.pinger->Raw() ? "true" : "false",
                  job.elapsedMs);
    line += (i ? ",{\"host\":" : "{\"host\":") + JsonString(job.host) + "," + figures;
  }
  line += "]}\n";
  std::fputs(line.c_str(), stdout);
  std::fflush(stdout);
  return 0;
}
