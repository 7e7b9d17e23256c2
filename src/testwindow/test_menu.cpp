#include "test_menu.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <algorithm>
#include <filesystem>

#include "common/run_time_error.h"
#include "logging/error_handler.h"
#include "senddata/byte_grid.h"
#include "senddata/flex_grid.h"
#include "senddata/send_data_file.h"
#include "testfile/small_file.h"
#include "testfile/test_file.h"
#include "testwindow/test_session.h"
#include "testwindow/test_window.h"
#include "transmission/observer_fan_out.h"
#include "ui/ui_support.h"

namespace ostrel {
namespace {

constexpr const char* kOpenFailed = "試験ファイルを開けませんでした。";
constexpr const char* kSaveFailed = "試験ファイルを保存できませんでした。";
constexpr const char* kFilter = "試験ファイル (*.json);;すべてのファイル (*)";

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace

TestMenu::TestMenu(QMenuBar& bar, FlexGrid& send_grid, FlexGrid& answer_grid,
                   ObserverFanOut& observers, QWidget& window)
    : send_grid_(send_grid),
      observers_(observers),
      window_(window),
      session_(std::make_unique<TestSession>(answer_grid)),
      last_folder_(QDir::currentPath()) {
  observers_.Add(&session_->Observer());
  SetSendDataLength({});
  menu_ = bar.addMenu(Q("試験"));
  OpenTest_ = menu_->addAction(Q("試験ファイルを開く…"));
  SaveTest_ = menu_->addAction(Q("試験ファイルを保存…"));
  menu_->addSeparator();
  Expectation_ = menu_->addAction(Q("期待応答"));
  connect(OpenTest_, &QAction::triggered, this, &TestMenu::OpenTest_Click);
  connect(SaveTest_, &QAction::triggered, this, &TestMenu::SaveTest_Click);
  connect(Expectation_, &QAction::triggered, this,
          [this] { RunHandled("Expectation_Click", [&] { OpenTestWindow(); }); });
}

TestMenu::~TestMenu() {
  observers_.Remove(&session_->Observer());
  delete frmTest_;
}

void TestMenu::SetSendFieldsSink(std::function<void(const std::vector<FieldDefinition>&)> sink) {
  session_->SetSendFieldsSink(std::move(sink));
}

void TestMenu::SetSendDataLength(std::function<std::size_t()> length) {
  session_->SendFields().SetDataLength(length);
  // Bytes the fields appended are not data: a saved request or a step would append them
  // again.
  session_->SetSendData([this, length] {
    std::vector<uint8_t> bytes;
    SetByteArrayFromGrid(bytes, send_grid_);
    if (length) bytes.resize(std::min(bytes.size(), length()));
    return bytes;
  });
}

void TestMenu::OpenTestWindow() {
  if (!frmTest_) {
    frmTest_ = new TestWindow(*session_, &window_);
    if (!title_suffix_.isEmpty()) frmTest_->SetTitleSuffix(title_suffix_);
  }
  frmTest_->Open();
}

void TestMenu::SetTitleSuffix(const QString& suffix) {
  title_suffix_ = suffix;
  if (frmTest_) frmTest_->SetTitleSuffix(suffix);
}

void TestMenu::OpenTest_Click() {
  RunHandled("OpenTest_Click", [&] {
    const QString path =
        QFileDialog::getOpenFileName(&window_, Q("試験ファイルを開く"), last_folder_, Q(kFilter));
    if (path.isEmpty()) return;
    last_folder_ = QFileInfo(path).absolutePath();
    OpenTestFile(LocalPath(path));
  });
}

void TestMenu::SaveTest_Click() {
  RunHandled("SaveTest_Click", [&] {
    QString path =
        QFileDialog::getSaveFileName(&window_, Q("試験ファイルを保存"), last_folder_, Q(kFilter));
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".json");
    last_folder_ = QFileInfo(path).absolutePath();
    SaveTestFile(LocalPath(path));
  });
}

bool TestMenu::OpenTestFile(const std::string& path) {
  const TestFileRead read = ReadTestFile(path);
  if (!read.test) {
    ShowMessage(&window_, std::string(kOpenFailed) + "\r\n" + path + "\r\n" + read.error,
                MsgIcon::Critical);
    return false;
  }
  const TestFile& test = *read.test;
  if (!test.steps.empty()) return OpenSteps(path, test);
  if (test.payload && test.payload->FromFile() && !test.fields.empty()) {
    // The fields must fit the bytes the file will give, before the grid takes them.
    const int64_t length = GetFileLength(test.payload->file);
    const std::size_t bytes = static_cast<std::size_t>(std::clamp<int64_t>(length, 0, 2048));
    if (const std::string error = FieldsFitError(test.fields, bytes);
        length > 0 && !error.empty()) {
      ShowMessage(&window_, std::string(kOpenFailed) + "\r\n" + path + "\r\n" + error,
                  MsgIcon::Critical);
      return false;
    }
  }
  if (session_->Running()) return false;
  if (test.payload && !LoadPayload(test)) return false;
  session_->SetSteps({}, {}, 1);
  session_->SendFields().Assign(test.fields);
  session_->AnswerFields().Assign(test.expect_fields);
  session_->SetExpectation(test.expect);
  session_->SetTestFile(std::filesystem::path(path).filename().string(), test.name);
  return true;
}

bool TestMenu::OpenSteps(const std::string& path, const TestFile& test) {
  if (session_->Running()) return false;  // a run keeps its steps to its end
  std::vector<std::vector<uint8_t>> payloads;
  for (std::size_t i = 0; i < test.steps.size(); ++i) {
    const TestStep& step = test.steps[i];
    std::vector<uint8_t> bytes = step.payload.bytes;
    std::string error;
    if (step.payload.FromFile()) {
      // The first 2048 bytes, as "入力" takes them.
      std::string text;
      const SmallFileStatus status =
          ReadSmallFile(step.payload.file, kGridByteCapacity, text, /*first_only=*/true);
      error = SmallFileProblem(status, "\"" + step.payload.file + "\" ", kGridByteCapacity);
      if (error.empty() && text.empty()) error = "\"" + step.payload.file + "\" は空です。";
      bytes.assign(text.begin(), text.end());
      if (error.empty()) error = FieldsFitError(step.fields, bytes.size());
    }
    if (!error.empty()) {
      ShowMessage(&window_,
                  std::string(kOpenFailed) + "\r\n" + path + "\r\nsteps[" + std::to_string(i) +
                      "]: " + error,
                  MsgIcon::Critical);
      return false;
    }
    payloads.push_back(std::move(bytes));
  }
  session_->SendFields().Assign({});
  session_->AnswerFields().Assign({});
  session_->SetExpectation(std::nullopt);
  session_->SetTestFile(std::filesystem::path(path).filename().string(), test.name);
  session_->SetSteps(test.steps, std::move(payloads), test.repeat);
  return true;
}

bool TestMenu::LoadPayload(const TestFile& test) {
  const TestPayload& payload = *test.payload;
  if (!payload.FromFile()) {
    // Bytes written in the test file: the fill "入力" ends with, without a file read.
    // A failure of the fill is logged as "description(SetGridFromByteArray)".
    send_grid_.SetRedraw(false);
    SetGridFromByteArray(send_grid_, payload.bytes);
    send_grid_.SetRedraw(true);
    return true;
  }
  // A payload file goes through the checks, log lines and messages of "入力".
  switch (CheckInputFileName(payload.file)) {
    case InputFileCheck::kEmptyName:
      ShowMessage(&window_, kInputFileNameEmptyMessage, MsgIcon::Information);
      return false;
    case InputFileCheck::kNoSuchFile:
      ShowMessage(&window_, kInputFileMissingMessage, MsgIcon::Critical);
      return false;
    case InputFileCheck::kOk:
      break;
  }
  // The load logs its own failure ("description(SetDataFromFileToGrid)") and leaves the
  // grid as it was; the expectation then stays as it was too.
  const bool loadable = GetFileLength(payload.file) > 0;
  LoadSendDataFile(send_grid_, payload.file);
  return loadable;
}

bool TestMenu::SaveTestFile(const std::string& path) {
  return RunHandled("SaveTest_Click", [&] {
    const auto& expectation = session_->CurrentExpectation();
    try {
      if (!session_->Steps().empty()) {
        WriteTestStepsFile(path, session_->TestName(), session_->Steps(), session_->StepPayloads(),
                           session_->Repeat());
        return;
      }
      std::vector<uint8_t> payload = session_->SendData();
      WriteTestFile(
          path, payload, expectation ? &*expectation : nullptr, session_->TestName(),
          session_->SendFields().Fields(),
          expectation ? session_->AnswerFields().Fields() : std::vector<FieldDefinition>{});
    } catch (const std::exception& error) {
      ShowMessage(&window_,
                  std::string(kSaveFailed) + "\r\n" + path + "\r\n" + DescriptionOf(error),
                  MsgIcon::Critical);
      throw;
    }
  });
}

}  // namespace ostrel
