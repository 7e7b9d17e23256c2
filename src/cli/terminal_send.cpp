#include "terminal_send.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <array>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <utility>

#include "capture/capture_control.h"
#include "common/atomic_file.h"
#include "common/run_time_error.h"
#include "common/tool_kind.h"
#include "cycle_report.h"
#include "fields/field_writer.h"
#include "logging/error_handler.h"
#include "logging/operation_log.h"
#include "payload.h"
#include "run_settings.h"
#include "sendfields/send_fields.h"
#include "signal_watch.h"
#include "startup/working_folders.h"
#include "steps/junit_report.h"
#include "steps/step_runner.h"
#include "terminal_view.h"
#include "testfile/test_file.h"
#include "transmission/observer_fan_out.h"
#include "transmission/ping_check.h"
#include "transmission/socket_control.h"
#include "verification/answer_judge.h"

namespace ostrel {
namespace {

bool IsReadableRegularFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), R_OK) == 0;
}

void RotateTheLog() { RotateLog(strLogFile[Kiv_UdpSnd], intLogMaxSize, intLogGenerations); }

}  // namespace

TerminalSend::TerminalSend(SendOptions options, std::ostream& out, std::ostream& err,
                           PingStart ping)
    : options_(std::move(options)), out_(out), err_(err), ping_(std::move(ping)) {
  if (ping_) return;
  // Started as the window starts it: one check at a time, its result handed on once.
  ping_check_ = std::make_unique<PingCheck>();
  auto done = std::make_shared<std::function<void(bool)>>();
  connect(ping_check_.get(), &PingCheck::Finished, this, [done](bool reachable) {
    if (auto call = std::move(*done)) call(reachable);
  });
  ping_ = [this, done](const std::string& host, uint8_t tries, std::function<void(bool)> result) {
    *done = std::move(result);
    ping_check_->Start(host, tries);
  };
}

TerminalSend::~TerminalSend() = default;

void TerminalSend::RequestStop() {
  ++stop_requests_;
  if (waiting_) waiting_->quit();
  if (runner_) runner_->Stop();
  if (stop_requests_ > 1 && cycle_ && cycle_->CycleRunning()) {
    cycle_->Abandon();
    if (ping_check_) ping_check_->Cancel();
  }
}

bool TerminalSend::PrepareLog() {
  intToolKind = Kiv_UdpSnd;
  try {
    if (!SetDefine()) return false;
    MakeFolder(strLogFolder);
    InitLog(strLogFolder);
    return true;
  } catch (...) {
    return false;
  }
}

int TerminalSend::Prepare(std::vector<uint8_t>& payload) {
  if (!PrepareLog()) {
    err_ << "ostrel-send: 操作ログのフォルダ " << strLogFolder << " を用意できません。"
         << std::endl;
    return kExitRunTimeError;
  }
  // A run whose steps no log records would be no test at all: the log must take lines now.
  if (const int error = LogAppendError(strLogFile[Kiv_UdpSnd]); error != 0) {
    err_ << "ostrel-send: 操作ログ " << strLogFile[Kiv_UdpSnd]
         << " に書き込めません: " << FileErrorDescription(error) << std::endl;
    return kExitRunTimeError;
  }
  lost_log_lines_before_ = LostLogLines();
  const std::string file =
      options_.settings_file.empty() ? strSettingFile[Kiv_UdpSnd] : options_.settings_file;
  if (!IsReadableRegularFile(file)) {
    err_ << "ostrel-send: 設定ファイル " << file << " を読めません。" << std::endl;
    return kExitUsage;
  }
  TerminalSettingHost host(err_, tmrRcvAns_);
  ReadSetting(file, settings_, host);
  if (host.Failed()) return kExitUsage;
  try {
    RotateTheLog();  // as the window's start-up does, right after the settings
  } catch (const std::exception& error) {
    LogError("Main", error);
    err_ << "ostrel-send: 操作ログを世代交代できません: " << DescriptionOf(error) << std::endl;
    return kExitRunTimeError;
  }
  if (const std::string error = ResolveRunSettings(file, options_, settings_, period_ms_);
      !error.empty()) {
    err_ << "ostrel-send: " << error << std::endl;
    return kExitUsage;
  }
  if (const int status = PreparePayload(payload); status >= 0) return status;
  if (!options_.fields.empty()) {
    if (const FieldLayout layout = FieldWriter(options_.fields).Layout(payload.size());
        layout.problem) {
      err_ << "ostrel-send: " << FieldProblemText(*layout.problem) << std::endl;
      return kExitUsage;
    }
  }
  return CheckOutputFile("--answer-out", options_.answer_out);
}

int TerminalSend::PreparePayload(std::vector<uint8_t>& payload) {
  std::optional<TestFile> test;
  const std::string test_file = options_.test_file.value_or("");
  if (options_.test_file) {
    TestFileRead read = ReadTestFile(test_file);
    if (!read.test) {
      err_ << "ostrel-send: --test " << test_file << ": " << read.error << std::endl;
      return kExitUsage;
    }
    test = std::move(read.test);
    if (!test->steps.empty()) {
      steps_test_ = std::move(test);
      return PrepareSteps(test_file);
    }
  }
  if (const int status = CheckOutputFile("--junit", options_.junit_file); status >= 0) {
    return status;
  }

  // The bytes: --data, else --hex, else the test file's.
  std::string file, option;
  if (options_.data_file) {
    file = *options_.data_file;
    option = "--data ";
  } else if (!options_.hex_bytes.empty()) {
    payload = options_.hex_bytes;
  } else if (test && test->payload && test->payload->FromFile()) {
    file = test->payload->file;
    option = "--test " + test_file + ": ";
  } else if (test && test->payload) {
    payload = test->payload->bytes;
  } else {
    err_ << "ostrel-send: --test " << test_file
         << ": 送信データ（\"payload\"）がありません。--data か --hex で指定してください。"
         << std::endl;
    return kExitUsage;
  }
  if (!file.empty()) {
    PayloadResult loaded = LoadPayloadFile(file);
    if (!loaded.error.empty()) {
      err_ << "ostrel-send: " << option << loaded.error << std::endl;
      return kExitUsage;
    }
    payload = std::move(loaded.bytes);
  }

  // The expectation: the test file's, its pattern replaced by --expect, its "from" by
  // --expect-from (a computed-field check of the file stays).
  if (test) {
    expectation_ = test->expect;
    test_name_ = test->name;
    // The file's computed fields come first; a --crc field then covers them too.
    options_.fields.insert(options_.fields.begin(), test->fields.begin(), test->fields.end());
  }
  if (options_.expect) {
    if (expectation_)
      expectation_->pattern = *options_.expect;
    else
      expectation_ = Expectation{*options_.expect, SenderRule::kAddress, {}};
  }
  if (options_.expect_from) {
    if (!expectation_) {
      err_ << "ostrel-send: --test " << test_file
           << ": 期待応答（\"expect\"）がないため --expect-from は使えません。--expect "
              "で指定してください。"
           << std::endl;
      return kExitUsage;
    }
    expectation_->from = *options_.expect_from;
  }
  return -1;
}

int TerminalSend::PrepareSteps(const std::string& test_file) {
  const std::string at = "ostrel-send: --test " + test_file + ": ";
  for (const auto& [given, option] : {std::pair{options_.data_file.has_value(), "--data"},
                                      std::pair{!options_.hex_bytes.empty(), "--hex"},
                                      std::pair{options_.expect.has_value(), "--expect"},
                                      std::pair{options_.expect_from.has_value(), "--expect-from"},
                                      std::pair{!options_.fields.empty(), "--crc"}}) {
    if (given) {
      err_ << at << "手順（\"steps\"）のある試験ファイルには " << option
           << " は使えません（手順ごとに書いてください）。" << std::endl;
      return kExitUsage;
    }
  }
  test_name_ = steps_test_->name;
  const std::vector<TestStep>& steps = steps_test_->steps;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const std::string step = "steps[" + std::to_string(i) + "]";
    std::vector<uint8_t> bytes = steps[i].payload.bytes;
    if (steps[i].payload.FromFile()) {
      PayloadResult loaded = LoadPayloadFile(steps[i].payload.file);
      if (!loaded.error.empty()) {
        err_ << at << step << ".payload.file: " << loaded.error << std::endl;
        return kExitUsage;
      }
      bytes = std::move(loaded.bytes);
      if (const std::string error = FieldsFitError(steps[i].fields, bytes.size()); !error.empty()) {
        err_ << at << step << ": " << error << std::endl;
        return kExitUsage;
      }
    }
    step_payloads_.push_back(std::move(bytes));
  }
  return CheckOutputFile("--junit", options_.junit_file);
}

int TerminalSend::CheckOutputFile(const char* option, const std::string& path) {
  if (path.empty()) return -1;
  try {
    CheckReplaceable(path);
  } catch (const std::exception& error) {
    err_ << "ostrel-send: " << option << " " << path << ": " << DescriptionOf(error) << std::endl;
    return kExitUsage;
  }
  return -1;
}

bool TerminalSend::WriteJUnit(const std::vector<JUnitSuite>& suites) {
  if (options_.junit_file.empty()) return true;
  std::array<char, 256> host{};
  if (gethostname(host.data(), host.size() - 1) != 0) host[0] = '\0';
  try {
    ReplaceFileAtomically(options_.junit_file,
                          JUnitXml(SuiteName(), suites, host[0] ? host.data() : "localhost"));
  } catch (const std::exception& error) {
    err_ << "ostrel-send: --junit " << options_.junit_file << ": " << DescriptionOf(error)
         << std::endl;
    return false;
  }
  return true;
}

std::string TerminalSend::SuiteName() const {
  return !test_name_.empty()
             ? test_name_
             : std::filesystem::path(options_.test_file.value_or("")).stem().string();
}

int TerminalSend::Run() {
  SignalWatch watch({SIGINT, SIGTERM});
  connect(&watch, &SignalWatch::Received, this, &TerminalSend::RequestStop);
  std::vector<uint8_t> payload;
  if (const int status = Prepare(payload); status >= 0) return status;
  return steps_test_ ? RunSteps() : RunCycles(payload);
}

// Starts the capture of --pcap, if asked for, on the cycle's watchers; false (after saying
// why) when its file cannot be made. A write that fails later is said once; the run goes on.
bool TerminalSend::StartCapture(CaptureControl& capture, const CycleJudge& judge) {
  if (options_.pcap.empty()) return true;
  capture.SetAnswerNote([&judge](const AnswerReport& answer) {
    return AnswerVerdictLine(judge.CurrentExpectation(), answer);
  });
  try {
    capture.Start(options_.pcap);
  } catch (const std::exception& error) {
    err_ << "ostrel-send: --pcap " << options_.pcap << ": " << DescriptionOf(error) << std::endl;
    return false;
  }
  capture.SetChangeListener([this, &capture] {
    if (capture.FailureText().empty()) return;
    err_ << "ostrel-send: --pcap " << options_.pcap << ": " << capture.FailureText()
         << "（キャプチャを止めました。送信は続けます）" << std::endl;
  });
  return true;
}

void TerminalSend::AttachCycle(SendCycle& cycle, SocketControl& socket,
                               SendCycleObserver& watchers) {
  cycle.SetObserver(&watchers);
  connect(&tmrRcvAns_, &Timer::Tick, &cycle, &SendCycle::tmrRcvAns_Timer);
  connect(&socket, &SocketControl::DataArrival, &cycle, &SendCycle::wscSend_DataArrival);
  cycle_ = &cycle;
}

void TerminalSend::DetachCycle(SendCycle& cycle, SocketControl& socket) {
  cycle_ = nullptr;
  cycle.SetObserver(nullptr);
  cycle.SetPayloadFiller(nullptr);
  tmrRcvAns_.SetEnabled(false);
  socket.Close();
}

int TerminalSend::RunSteps() {
  SocketControl wscSend;
  TerminalView view({});
  CycleRecorder recorder;
  CycleJudge judge(
      [](const Judgement& judgement) { WriteLog(intToolKind, VerdictLogLine(judgement)); });
  ObserverFanOut watchers;
  watchers.Add(&recorder);
  watchers.Add(&judge);
  CaptureControl capture(watchers, [this] { return int{settings_.intCommonSendRetry}; });
  if (!StartCapture(capture, judge)) return kExitUsage;
  SendCycle cycle(settings_, wscSend, tmrSend_, tmrRcvAns_, view, ping_);
  AttachCycle(cycle, wscSend, watchers);
  const std::vector<TestStep>& steps = steps_test_->steps;
  StepRunner runner(
      cycle, judge, steps, step_payloads_, [&view] { return view.Payload(); },
      [&view](const std::vector<uint8_t>& bytes) { view.SetPayload(bytes); });
  runner_ = &runner;

  RunSummary summary;
  summary.verdicts.emplace();
  summary.test_name = test_name_;
  const std::string suite_name = SuiteName();
  const auto case_name = [&steps](std::size_t i) {
    return std::to_string(i + 1) + (steps[i].name.empty() ? "" : " " + steps[i].name);
  };
  std::vector<JUnitSuite> suites;
  QCoreApplication::processEvents();  // a Ctrl-C while the settings were read
  for (int64_t run = 1; options_.count == 0 || run <= options_.count; ++run) {
    if (stop_requests_ > 0 || output_closed_) break;
    if (run > 1) {
      if (!WaitInterval(period_ms_)) break;
      if (!RunHandled("tmrSend_Timer", RotateTheLog)) {
        ++summary.errors;
        break;
      }
    }
    JUnitSuite suite{suite_name + " run " + std::to_string(run), CurrentClock().Now(), 0, {}};
    const auto started = std::chrono::steady_clock::now();
    int32_t repetition = 1;
    std::size_t next = 0;
    const RunEnd end = runner.Run(steps_test_->repeat, [&](const StepResult& result) {
      CycleRecord record = recorder.TakeEnded().value_or(CycleRecord{});
      record.judgement = result.judgement;
      summary.Add(record);
      if (!options_.quiet) {
        const StepPlace place{run, result.repetition, result.step + 1, steps[result.step].name};
        Print(options_.json ? StepJson(place, record) : StepText(place, record));
        if (output_closed_) runner.Stop();
      }
      suite.cases.push_back({case_name(result.step), result.repetition, result.time.count(), false,
                             result.error, result.judgement, result.sent, result.answer});
      repetition = result.repetition;
      next = result.step + 1;
    });
    if (end == RunEnd::kAbandoned) summary.AddUnfinished(recorder.Unfinished());
    // The steps the run never reached in its last repetition.
    if (end != RunEnd::kCompleted) {
      for (std::size_t i = next; i < steps.size(); ++i)
        suite.cases.push_back({case_name(i), repetition, 0, true, false, {}, {}, {}});
    }
    suite.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    suites.push_back(std::move(suite));
    if (end != RunEnd::kCompleted) break;
  }
  runner_ = nullptr;
  DetachCycle(cycle, wscSend);

  if (!WriteJUnit(suites)) ++summary.errors;
  return Finish(summary, view, capture);
}

int TerminalSend::RunCycles(const std::vector<uint8_t>& payload) {
  SocketControl wscSend;
  TerminalView view(payload);
  // The recorder and the judge watch every cycle; the verdict's log line follows the
  // cycle's own lines, as in the window.
  CycleRecorder recorder;
  std::optional<Judgement> judged;
  CycleJudge judge([&judged](const Judgement& judgement) {
    WriteLog(intToolKind, VerdictLogLine(judgement));
    judged = judgement;
  });
  judge.SetExpectation(expectation_);
  ObserverFanOut watchers;
  watchers.Add(&recorder);
  watchers.Add(&judge);
  // The capture comes last: its answers' notes carry the verdict the judge will give.
  CaptureControl capture(watchers, [this] { return int{settings_.intCommonSendRetry}; });
  if (!StartCapture(capture, judge)) return kExitUsage;
  SendCycle cycle(settings_, wscSend, tmrSend_, tmrRcvAns_, view, ping_);
  AttachCycle(cycle, wscSend, watchers);
  // Computed fields go into the terminal's send grid, so every cycle reads back what went out.
  std::unique_ptr<SendFields> fields;
  if (!options_.fields.empty()) {
    fields = std::make_unique<SendFields>(
        options_.fields, [&view] { return view.Payload(); },
        [&view](const std::vector<uint8_t>& bytes) { view.SetPayload(bytes); });
    cycle.SetPayloadFiller(fields.get());
  }

  RunSummary summary;
  if (expectation_) summary.verdicts.emplace();
  summary.test_name = test_name_;
  const auto take_ended = [&] {
    std::optional<CycleRecord> record = recorder.TakeEnded();
    if (record) record->judgement = std::exchange(judged, std::nullopt);
    return record;
  };
  // With --junit each cycle is a run of the test's one request: a test suite of one case.
  std::vector<JUnitSuite> suites;
  auto started = std::chrono::steady_clock::now();
  LocalTime started_at = CurrentClock().Now();
  const auto report = [&](int64_t number, const CycleRecord& record) {
    summary.Add(record);
    if (!options_.junit_file.empty()) {
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      JUnitCase c{test_name_.empty() ? "1" : test_name_,
                  1,
                  seconds,
                  false,
                  record.outcome == CycleOutcome::kError,
                  record.judgement.value_or(Judgement{}),
                  {},
                  {}};
      // Without an expectation any answer will do, as a step without one.
      if (!record.judgement)
        c.judgement.verdict = record.outcome == CycleOutcome::kAnswered ? Verdict::kMatch
                              : record.transmissions > 0                ? Verdict::kNoAnswer
                                                                        : Verdict::kNotSent;
      if (record.transmissions > 0) c.sent = view.Payload();
      if (record.answer_bytes && view.LastAnswer()) c.answer = *view.LastAnswer();
      suites.push_back({SuiteName() + " run " + std::to_string(number), started_at, seconds, {c}});
    }
    if (options_.quiet) return;
    Print(options_.json ? CycleJson(number, record) : CycleText(number, record));
  };
  // A Ctrl-C while the settings were read is heard before the first cycle starts.
  QCoreApplication::processEvents();
  for (int64_t number = 1; options_.count == 0 || number <= options_.count; ++number) {
    if (stop_requests_ > 0 || output_closed_) break;
    if (number > 1) {
      if (!WaitInterval(period_ms_)) break;
      started = std::chrono::steady_clock::now();
      started_at = CurrentClock().Now();
      // Every timed cycle rotates the log first; when that fails the cycle sends nothing.
      if (!RunHandled("tmrSend_Timer", RotateTheLog)) {
        watchers.CycleStarted();  // a cycle that ended in an error before it sent
        watchers.CycleEnded(CycleOutcome::kError);
        report(number, *take_ended());
        continue;
      }
    }
    const bool ok = cycle.SendUdpData();
    const std::optional<CycleRecord> record = take_ended();
    if (!record) {  // abandoned by a second interrupt
      summary.AddUnfinished(recorder.Unfinished());
      break;
    }
    report(number, *record);
    if (!ok) break;  // a run-time error ends periodic sending, as in the window
  }
  DetachCycle(cycle, wscSend);
  if (!WriteJUnit(suites)) ++summary.errors;
  return Finish(summary, view, capture);
}

int TerminalSend::Finish(RunSummary& summary, const TerminalView& view, CaptureControl& capture) {
  summary.interrupted = stop_requests_ > 0;
  summary.lost_log_lines = static_cast<int64_t>(LostLogLines() - lost_log_lines_before_);

  capture.Stop();
  int status = ExitStatus(summary);
  // A capture that lost datagrams is no success, though every cycle ran.
  if (!capture.FailureText().empty()) status = kExitRunTimeError;
  if (!options_.answer_out.empty()) {
    if (const auto& answer = view.LastAnswer()) {
      try {
        ReplaceFileAtomically(
            options_.answer_out,
            std::string_view(reinterpret_cast<const char*>(answer->data()), answer->size()));
      } catch (const std::exception& error) {
        err_ << "ostrel-send: --answer-out " << options_.answer_out << ": " << DescriptionOf(error)
             << std::endl;
        status = kExitRunTimeError;
      }
    } else {
      err_ << "ostrel-send: 応答がなかったため " << options_.answer_out << " は書き出していません。"
           << std::endl;
    }
  }
  const Destination destination{settings_.strDestIpAddress, settings_.lngDestPort,
                                settings_.lngSrcPort};
  Print(options_.json ? SummaryJson(summary, destination) : SummaryText(summary, destination));
  if (!out_) {  // a full disk or a closed pipe lost the report: that is no success
    err_ << "ostrel-send: 結果を標準出力に書き込めませんでした。" << std::endl;
    status = kExitRunTimeError;
  }
  return status;
}

bool TerminalSend::WaitInterval(int64_t ms) {
  if (stop_requests_ > 0) return false;
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  timer.setTimerType(Qt::PreciseTimer);
  connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  timer.start(std::chrono::milliseconds(ms));
  waiting_ = &loop;
  loop.exec();
  waiting_ = nullptr;
  return stop_requests_ == 0;
}

void TerminalSend::Print(const std::string& text) {
  out_ << text << std::flush;
  // A reader that went away (`| head -1`): the run ends after the running cycle.
  if (!out_) output_closed_ = true;
}

}  // namespace ostrel
