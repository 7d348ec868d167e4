// kivo_driver.exe: lets a test script inspect and operate the windows of
// other programs on the same desktop.
//
// Protocol: one JSON object per line on standard input, one JSON object per
// line on standard output, in order, flushed after each answer.
//   request:  {"id": <any>, "cmd": "<name>", ...arguments}
//   answer:   {"id": <same>, "ok": true, "result": <value>}
//          or {"id": <same>, "ok": false, "code": "<bad_request|no_window|timeout|failed>", "error":
//          "<text>"}
// Texts are UTF-8 and cross as Unicode (the driver uses the W calls); window
// handles are integers. The command "commands" lists every command name;
// "quit" ends the driver, as does the end of its input.
#include <windows.h>

#include <cstdio>
#include <string>

#include "Command.h"
#include "Commands.h"
#include "ProcessWatch.h"

namespace kivo::driver {

namespace {

// A request line longer than this is answered with an error and skipped.
constexpr size_t kMaxLine = 4 << 20;

// Reads lines from a pipe or file handle without any text-mode translation.
class LineReader {
 public:
  explicit LineReader(HANDLE input) : input_(input) {}

  // Next line without its terminator; false at the end of input. A line
  // that exceeds kMaxLine is returned empty with `overlong` set.
  bool Next(std::string& line, bool& overlong) {
    line.clear();
    overlong = false;
    for (;;) {
      size_t nl = buffer_.find('\n', scanned_);
      if (nl != std::string::npos) {
        if (!discarding_) line.assign(buffer_, 0, nl);
        overlong = discarding_;
        discarding_ = false;
        buffer_.erase(0, nl + 1);
        scanned_ = 0;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
      }
      scanned_ = buffer_.size();
      if (buffer_.size() > kMaxLine) {
        discarding_ = true;
        buffer_.clear();
        scanned_ = 0;
      }
      char chunk[65536];
      DWORD got = 0;
      if (!::ReadFile(input_, chunk, sizeof chunk, &got, nullptr) || got == 0) {
        if (buffer_.empty() && !discarding_) return false;
        line.swap(buffer_);
        overlong = discarding_;
        discarding_ = false;
        if (overlong) line.clear();
        buffer_.clear();
        return true;
      }
      buffer_.append(chunk, got);
    }
  }

 private:
  HANDLE input_;
  std::string buffer_;
  size_t scanned_ = 0;
  bool discarding_ = false;
};

class Output {
 public:
  explicit Output(HANDLE output) : output_(output) {}

  void Line(const Json& answer) {
    std::string text = answer.Dump();
    text += '\n';
    size_t done = 0;
    while (done < text.size()) {
      DWORD wrote = 0;
      if (!::WriteFile(output_, text.data() + done, static_cast<DWORD>(text.size() - done), &wrote,
                       nullptr) ||
          wrote == 0) {
        return;
      }
      done += wrote;
    }
    ::FlushFileBuffers(output_);
  }

 private:
  HANDLE output_;
};

Json Failure(const Json& id, const std::string& code, const std::string& message) {
  Json answer = Json::MakeObject();
  answer.Set("id", id);
  answer.Set("ok", false);
  answer.Set("code", code);
  answer.Set("error", message);
  return answer;
}

class Driver {
 public:
  Driver() {
    AddWindowCommands(table_);
    AddControlCommands(table_);
    AddProcessCommands(table_, watch_);
    AddMenuCommands(table_);
    table_.Add("commands", [this](const Args&) { return table_.Names(); });
    table_.Add("quit", [this](const Args&) {
      quit_ = true;
      return Json(true);
    });
  }

  int Run() {
    LineReader reader(::GetStdHandle(STD_INPUT_HANDLE));
    Output out(::GetStdHandle(STD_OUTPUT_HANDLE));
    std::string line;
    bool overlong = false;
    while (!quit_ && reader.Next(line, overlong)) {
      if (overlong) {
        out.Line(Failure(Json(), kBadRequest, "request line too long"));
        continue;
      }
      if (line.find_first_not_of(" \t") == std::string::npos) continue;
      out.Line(Answer(line));
    }
    return 0;
  }

 private:
  Json Answer(const std::string& line) {
    Json request;
    std::string error;
    if (!Json::Parse(line, request, error)) return Failure(Json(), kBadRequest, error);
    const Json* idValue = request.Find("id");
    Json id = idValue != nullptr ? *idValue : Json();
    const Json* cmd = request.Find("cmd");
    if (!request.IsObject() || cmd == nullptr || !cmd->IsString())
      return Failure(id, kBadRequest, "a request is an object with a string 'cmd'");
    try {
      Json result = table_.Run(cmd->AsString(), Args(request));
      Json answer = Json::MakeObject();
      answer.Set("id", id);
      answer.Set("ok", true);
      answer.Set("result", std::move(result));
      return answer;
    } catch (const CommandError& e) {
      return Failure(id, e.code(), e.what());
    } catch (const std::exception& e) {
      return Failure(id, kFailed, e.what());
    }
  }

  ProcessWatch watch_;
  CommandTable table_;
  bool quit_ = false;
};

}  // namespace

}  // namespace kivo::driver

int main() {
  // Messages to hung windows must not show the "not responding" dialog.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  try {
    kivo::driver::Driver driver;
    return driver.Run();
  } catch (...) {
    return 3;
  }
}
