#include "settings/com_setting_dialog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/run_time_error.h"
#include "common/tool_kind.h"
#include "logging/operation_log.h"
#include "ui/ui_support.h"
#include "settings/com_setting.h"
#include "support/fake_message_box.h"
#include "support/test_support.h"

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace ostrel {
namespace {

using test::ReadFileBytes;
using test::Replaced;
using test::TempDir;
using test::WriteFileBytes;

struct Shown {
  std::string text;
  MsgIcon icon;
  bool operator==(const Shown&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Shown& shown) {
  return out << "{\"" << shown.text << "\", icon " << static_cast<int>(shown.icon) << "}";
}

class ComSettingDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    intToolKind = Kiv_UdpSnd;
    InitLog(dir_.str());
  }
  void TearDown() override { delete dialog_.data(); }

  // The boxes shown so far, each with an OK button only.
  std::vector<Shown> Boxes() const {
    std::vector<Shown> boxes;
    for (const auto& box : boxes_.shown) {
      EXPECT_EQ(box.buttons, MsgButtons::Ok) << box.text;
      boxes.push_back({box.text, box.icon});
    }
    return boxes;
  }

  // Stores the valid settings with `from` replaced by `to`, then opens and shows the dialog.
  void Open(const std::string& from = "", const std::string& to = "") {
    stored_ = from.empty() ? test::kSampleSettings : Replaced(test::kSampleSettings, from, to);
    WriteFileBytes(file_, stored_);
    dialog_ = new ComSettingDialog(file_);
    finished_ = std::make_unique<QSignalSpy>(dialog_.data(), &ComSettingDialog::Finished);
    closed_ = std::make_unique<QSignalSpy>(dialog_.data(), &ComSettingDialog::ClosedWithoutButtons);
    loaded_pos_ = dialog_->pos();  // where the opening put it; showing may move it further
    dialog_->show();
    QApplication::setActiveWindow(dialog_);
  }

  static void Type(QLineEdit* box, const QString& text) {
    box->selectAll();
    box->del();
    QTest::keyClicks(box, text);
  }

  bool IsOpen() const { return dialog_ && dialog_->isVisible(); }
  std::string Bytes() const { return ReadFileBytes(file_); }
  std::vector<std::string> Log() const { return test::LogMessages(strLogFile[Kiv_UdpSnd]); }
  // A closed dialog deletes itself once deferred deletions run.
  bool DeletedAfterClose() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return dialog_.isNull();
  }
  // After a failed check: the message alone, the box's whole text selected and focused,
  // the dialog open and the file untouched.
  void ExpectFailureOn(QLineEdit* box, const std::string& message) {
    EXPECT_EQ(Boxes(), (std::vector<Shown>{{message, MsgIcon::None}}));
    EXPECT_EQ(box->selectionStart(), 0);
    EXPECT_EQ(box->selectedText(), box->text());
    EXPECT_EQ(dialog_->focusWidget(), box);
    EXPECT_TRUE(IsOpen());
    EXPECT_EQ(finished_->count(), 0);
    EXPECT_EQ(Bytes(), stored_);
  }

  TempDir dir_;
  std::string file_ = dir_ / "Kiv_UdpSendSetting.ini";
  std::string stored_;
  QPoint loaded_pos_;
  test::FakeMessageBoxes boxes_;
  QPointer<ComSettingDialog> dialog_;
  std::unique_ptr<QSignalSpy> finished_;
  std::unique_ptr<QSignalSpy> closed_;
};

QLabel* LabelNamed(QWidget* parent, const char* name) {
  return parent->findChild<QLabel*>(QString::fromLatin1(name));
}

// ---- Layout -----------------------------------------------------------------------------

TEST_F(ComSettingDialogTest, ControlsStandAtTheirPlacesWithTheirCaptionsAndFonts) {
  Open();
  EXPECT_EQ(dialog_->windowTitle(), QStringLiteral("通信設定"));
  EXPECT_EQ(dialog_->size(), QSize(304, 219));
  EXPECT_EQ(dialog_->minimumSize(), dialog_->maximumSize());

  const std::vector<std::tuple<const char*, QString, QRect>> labels = {
      {"lblSrcPort", QStringLiteral("送信元ポート"), TwipsRect(240, 480, 1455, 375)},
      {"lblDestIP", QStringLiteral("送信先IPアドレス"), TwipsRect(240, 960, 1815, 375)},
      {"lblDestPort", QStringLiteral("送信先ポート"), TwipsRect(240, 1440, 1455, 375)},
      {"lblInterval", QStringLiteral("送信周期"), TwipsRect(240, 1920, 1095, 375)},
      {"lblColon0", QStringLiteral("："), TwipsRect(2040, 960, 255, 375)},
      {"lblColon1", QStringLiteral("："), TwipsRect(2040, 1440, 255, 375)},
      {"lblColon2", QStringLiteral("："), TwipsRect(2040, 1920, 255, 375)},
      {"lblColon3", QStringLiteral("："), TwipsRect(2040, 480, 255, 375)},
  };
  for (const auto& [name, caption, rect] : labels) {
    QLabel* label = LabelNamed(dialog_, name);
    ASSERT_NE(label, nullptr) << name;
    EXPECT_EQ(label->text(), caption) << name;
    EXPECT_EQ(label->geometry(), rect) << name;
    EXPECT_EQ(label->font().pointSizeF(), 11.25) << name;
    EXPECT_TRUE(label->font().bold()) << name;
  }

  const std::vector<std::tuple<QLineEdit*, int, QRect>> boxes = {
      {dialog_->txtSrcPort(), 5, TwipsRect(2280, 360, 1335, 420)},
      {dialog_->txtDestIP(), 15, TwipsRect(2280, 840, 2175, 420)},
      {dialog_->txtDestPort(), 5, TwipsRect(2280, 1320, 1335, 420)},
      {dialog_->txtSendInterval(), 5, TwipsRect(2280, 1800, 1335, 420)},
  };
  for (const auto& [box, length, rect] : boxes) {
    EXPECT_EQ(box->maxLength(), length) << rect.y();
    EXPECT_EQ(box->geometry(), rect);
    EXPECT_EQ(box->font().pointSizeF(), 14.25);
    EXPECT_TRUE(box->font().bold());
  }

  EXPECT_EQ(dialog_->cboTimeUnit()->geometry(), TwipsRect(3720, 1920, 855, 300));
  EXPECT_EQ(dialog_->cmdApply()->geometry(), TwipsRect(840, 2640, 1215, 495));
  EXPECT_EQ(dialog_->cmdApply()->text(), QStringLiteral("設定"));
  EXPECT_EQ(dialog_->cmdCancel()->geometry(), TwipsRect(2640, 2640, 1215, 495));
  EXPECT_EQ(dialog_->cmdCancel()->text(), QStringLiteral("キャンセル"));
  for (QPushButton* button : {dialog_->cmdApply(), dialog_->cmdCancel()}) {
    EXPECT_FALSE(button->isDefault());
    EXPECT_FALSE(button->autoDefault());
  }
}

TEST_F(ComSettingDialogTest, TabMovesThroughTheInputsThenTheButtons) {
  Open();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_));
  const std::vector<QWidget*> order = {dialog_->txtSrcPort(),  dialog_->txtDestIP(),
                                       dialog_->txtDestPort(), dialog_->txtSendInterval(),
                                       dialog_->cboTimeUnit(), dialog_->cmdApply(),
                                       dialog_->cmdCancel(),   dialog_->txtSrcPort()};
  std::vector<QWidget*> seen = {QApplication::focusWidget()};
  for (std::size_t i = 1; i < order.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QWidget* focus = QApplication::focusWidget();
    // The unit box takes the focus in its edit part.
    seen.push_back(focus && focus->parentWidget() == dialog_->cboTimeUnit() ? focus->parentWidget()
                                                                            : focus);
  }
  EXPECT_EQ(seen, order);
}

// ---- Opening ----------------------------------------------------------------------------

TEST_F(ComSettingDialogTest, OpeningShowsTheStoredTextsAndUnitAndCentresTheDialog) {
  Open("Sendinterval=3000\r\nSendIntervalUnit=0", "Sendinterval=abc\r\nSendIntervalUnit=1");
  EXPECT_EQ(dialog_->txtSrcPort()->text(), QStringLiteral("5000"));
  EXPECT_EQ(dialog_->txtDestIP()->text(), QStringLiteral("192.168.0.10"));
  EXPECT_EQ(dialog_->txtDestPort()->text(), QStringLiteral("6000"));
  EXPECT_EQ(dialog_->txtSendInterval()->text(), QStringLiteral("abc")) << "shown unchecked";
  EXPECT_EQ(dialog_->cboTimeUnit()->currentIndex(), 1);
  EXPECT_EQ(dialog_->cboTimeUnit()->currentText(), QStringLiteral("秒"));
  EXPECT_TRUE(Log().empty());

  const QRect screen = dialog_->screen()->geometry();
  const QPoint twips = CenteredPositionTwips(screen.size() * kTwipsPerPixel,
                                             QSizeF(dialog_->size() * kTwipsPerPixel));
  EXPECT_EQ(loaded_pos_, screen.topLeft() + twips / kTwipsPerPixel);
}

TEST_F(ComSettingDialogTest, TheUnitBoxOffersThreeUnitsAndStartsEmptyWithoutAStoredUnit) {
  Open("SendIntervalUnit=0", "SendIntervalUnit=");
  QComboBox* unit = dialog_->cboTimeUnit();
  EXPECT_TRUE(unit->isEditable());
  ASSERT_EQ(unit->count(), 3);
  EXPECT_EQ(unit->itemText(0), QStringLiteral("ミリ秒"));
  EXPECT_EQ(unit->itemText(1), QStringLiteral("秒"));
  EXPECT_EQ(unit->itemText(2), QStringLiteral("分"));
  EXPECT_EQ(unit->currentIndex(), -1);
  EXPECT_EQ(unit->currentText(), QString());
  EXPECT_TRUE(Log().empty());
}

TEST_F(ComSettingDialogTest, AStoredUnitTheBoxCannotShowIsLoggedAndLeavesTheDialogUncentred) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"5", desc::kInvalidPropertyValue}, {"40000", desc::kOverflow}};
  for (const auto& [stored, description] : cases) {
    Open("SendIntervalUnit=0", "SendIntervalUnit=" + stored);
    EXPECT_EQ(dialog_->cboTimeUnit()->currentIndex(), -1) << stored;
    EXPECT_EQ(dialog_->cboTimeUnit()->currentText(), QString()) << stored;
    EXPECT_EQ(dialog_->txtSendInterval()->text(), QStringLiteral("3000")) << "texts are filled";
    EXPECT_EQ(loaded_pos_, QPoint(0, 0)) << "not moved by the opening";
    EXPECT_EQ(Log().back(), description + "(Form_Load)");
    delete dialog_.data();
  }
  EXPECT_EQ(Log().size(), 2u);
}

TEST_F(ComSettingDialogTest, AStoredValueLongerThanItsBoxIsShownWhole) {
  Open("UdpSrcPort=5000", "UdpSrcPort=05000000");
  EXPECT_EQ(dialog_->txtSrcPort()->text(), QStringLiteral("05000000"));
  dialog_->cmdApply()->click();
  ExpectFailureOn(dialog_->txtSrcPort(), com_setting_msg::kBadSrcPort);

  // Once shortened, the box takes no more than its five characters again.
  dialog_->txtSrcPort()->setFocus();
  Type(dialog_->txtSrcPort(), QStringLiteral("1234567"));
  EXPECT_EQ(dialog_->txtSrcPort()->text(), QStringLiteral("12345"));
}

// ---- The unit box -----------------------------------------------------------------------

TEST_F(ComSettingDialogTest, TypingIntoTheUnitBoxDropsTheSelectionButKeepsTheText) {
  Open("SendIntervalUnit=0", "SendIntervalUnit=1");
  QComboBox* unit = dialog_->cboTimeUnit();
  unit->setFocus();
  QTest::keyClicks(unit->lineEdit(), "x");
  EXPECT_EQ(unit->currentIndex(), -1);
  EXPECT_EQ(unit->currentText(), QStringLiteral("秒x"));

  // Nothing is completed from the items.
  const auto type_char = [&](const QString& text) {
    QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, text);
    QApplication::sendEvent(unit->lineEdit(), &key);
  };
  unit->lineEdit()->clear();
  type_char(QStringLiteral("ミ"));
  EXPECT_EQ(unit->currentText(), QStringLiteral("ミ"));

  // Typing an item's very text is still typing: neither Enter nor leaving the box
  // turns it into a selection, and it adds no item.
  unit->lineEdit()->clear();
  type_char(QStringLiteral("分"));
  ASSERT_EQ(unit->currentText(), QStringLiteral("分"));
  QTest::keyClick(unit->lineEdit(), Qt::Key_Return);
  dialog_->txtSrcPort()->setFocus();
  unit->lineEdit()->clearFocus();
  EXPECT_EQ(unit->currentIndex(), -1);
  EXPECT_EQ(unit->count(), 3);

  dialog_->cmdApply()->click();
  ExpectFailureOn(dialog_->txtSendInterval(), "送信周期が不正です。\r\n0～0");
}

// ---- Apply ------------------------------------------------------------------------------

TEST_F(ComSettingDialogTest, ApplyWithNothingChangedClosesSilently) {
  Open();
  bool visible_at_finish = true;
  QObject::connect(dialog_, &ComSettingDialog::Finished,
                   [&] { visible_at_finish = dialog_->isVisible(); });
  dialog_->cmdApply()->click();
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(finished_->count(), 1);
  EXPECT_FALSE(visible_at_finish) << "Finished comes once the dialog has closed";
  EXPECT_EQ(closed_->count(), 0);
  EXPECT_EQ(Bytes(), stored_);
  EXPECT_TRUE(DeletedAfterClose());
}

TEST_F(ComSettingDialogTest, ApplyStoresASourcePortWithoutItsBlanks) {
  Open();
  Type(dialog_->txtSrcPort(), QStringLiteral(" 600 "));
  dialog_->cmdApply()->click();
  EXPECT_EQ(Boxes(), (std::vector<Shown>{{com_setting_msg::kChanged, MsgIcon::Information}}));
  EXPECT_EQ(Bytes(), Replaced(stored_, "UdpSrcPort=5000", "UdpSrcPort=600"));
  EXPECT_EQ(finished_->count(), 1);
  EXPECT_TRUE(DeletedAfterClose());
}

TEST_F(ComSettingDialogTest, ApplyOfTheStoredPortWithBlanksAroundWritesNothing) {
  Open();
  Type(dialog_->txtSrcPort(), QStringLiteral(" 5000"));
  dialog_->cmdApply()->click();
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(Bytes(), stored_);
  EXPECT_EQ(finished_->count(), 1);
}

TEST_F(ComSettingDialogTest, ApplyOfAChangedUnitAloneWritesOnlyTheUnit) {
  Open("Sendinterval=3000", "Sendinterval=5");
  dialog_->cboTimeUnit()->setCurrentIndex(2);
  dialog_->cmdApply()->click();
  EXPECT_EQ(Boxes(), (std::vector<Shown>{{com_setting_msg::kChanged, MsgIcon::Information}}));
  EXPECT_EQ(Bytes(), Replaced(stored_, "SendIntervalUnit=0", "SendIntervalUnit=2"));
}

TEST_F(ComSettingDialogTest, ApplyOfABadSourcePortSelectsAndFocusesIt) {
  Open();
  Type(dialog_->txtSrcPort(), QStringLiteral("65536"));
  dialog_->cmdApply()->setFocus();
  dialog_->cmdApply()->click();
  ExpectFailureOn(dialog_->txtSrcPort(), "送信元ポート番号が不正です。");
  EXPECT_EQ(dialog_->txtSrcPort()->text(), QStringLiteral("65536"));
}

TEST_F(ComSettingDialogTest, ApplyOfABadAddressOrDestinationPortPointsAtThatBox) {
  Open();
  Type(dialog_->txtDestIP(), QStringLiteral("10.0.0"));
  dialog_->cmdApply()->click();
  ExpectFailureOn(dialog_->txtDestIP(), "送信先IPアドレスが不正です。");

  boxes_.shown.clear();
  Type(dialog_->txtDestIP(), QStringLiteral("10.0.0.1"));
  Type(dialog_->txtDestPort(), QStringLiteral("abc"));
  dialog_->cmdApply()->click();
  ExpectFailureOn(dialog_->txtDestPort(), "送信先ポート番号が不正です。");
}

TEST_F(ComSettingDialogTest, ApplyOfABadPeriodNamesTheLimitsOfTheSelectedUnit) {
  const std::vector<std::tuple<int, QString, std::string>> cases = {
      {0, QStringLiteral("1000"), "2000～65535"},
      {1, QStringLiteral("601"), "2～600"},
      {2, QStringLiteral("0"), "1～60"},
      {-1, QStringLiteral("3000"), "0～0"},
  };
  Open();
  for (const auto& [unit, interval, limits] : cases) {
    boxes_.shown.clear();
    dialog_->cboTimeUnit()->setCurrentIndex(unit);
    Type(dialog_->txtSendInterval(), interval);
    dialog_->cmdApply()->click();
    ExpectFailureOn(dialog_->txtSendInterval(), "送信周期が不正です。\r\n" + limits);
  }
}

TEST_F(ComSettingDialogTest, AFailedWriteIsReportedAndKeepsTheDialogOpen) {
  Open();
  ASSERT_EQ(chmod(file_.c_str(), 0444), 0);
  Type(dialog_->txtSrcPort(), QStringLiteral("600"));
  Type(dialog_->txtDestIP(), QStringLiteral("10.0.0.1"));
  dialog_->cmdApply()->click();

  EXPECT_EQ(Boxes(), (std::vector<Shown>{{std::string("設定ファイルに書き込めませんでした。\r\n") +
                                              desc::kPermissionDenied,
                                          MsgIcon::Critical}}));
  EXPECT_EQ(Log(),
            (std::vector<std::string>{std::string(desc::kPermissionDenied) + "(cmdApply_Click)"}));
  EXPECT_TRUE(IsOpen());
  EXPECT_EQ(finished_->count(), 0);
  EXPECT_EQ(dialog_->txtSrcPort()->text(), QStringLiteral("600"));
  EXPECT_EQ(dialog_->txtDestIP()->text(), QStringLiteral("10.0.0.1"));
  EXPECT_EQ(Bytes(), stored_);

  // Once the file can be written again, the same Apply goes through.
  boxes_.shown.clear();
  ASSERT_EQ(chmod(file_.c_str(), 0644), 0);
  dialog_->cmdApply()->click();
  EXPECT_EQ(Boxes(), (std::vector<Shown>{{com_setting_msg::kChanged, MsgIcon::Information}}));
  EXPECT_EQ(finished_->count(), 1);
}

// ---- Cancel -----------------------------------------------------------------------------

TEST_F(ComSettingDialogTest, CancelClosesWithoutWritingWhatWasTyped) {
  Open();
  Type(dialog_->txtSrcPort(), QStringLiteral("600"));
  dialog_->cboTimeUnit()->setCurrentIndex(1);
  dialog_->cmdCancel()->click();
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(Bytes(), stored_);
  EXPECT_EQ(finished_->count(), 1);
  EXPECT_EQ(closed_->count(), 0);
  EXPECT_TRUE(DeletedAfterClose());
}

TEST_F(ComSettingDialogTest, CancelRefusesABadStoredAddressWhateverTheBoxHolds) {
  Open("IPAddress=192.168.0.10", "IPAddress=192.168.0.256");
  Type(dialog_->txtDestIP(), QStringLiteral("192.168.0.1"));
  dialog_->cmdCancel()->click();
  ExpectFailureOn(dialog_->txtDestIP(), "正常なIPアドレスを設定してください。");
  EXPECT_EQ(dialog_->txtDestIP()->text(), QStringLiteral("192.168.0.1"));
}

TEST_F(ComSettingDialogTest, CancelValidatesThePeriodAsMillisecondsWhenTheStoredUnitIsNotNumeric) {
  Open("Sendinterval=3000\r\nSendIntervalUnit=0", "Sendinterval=5\r\nSendIntervalUnit=min");
  dialog_->cmdCancel()->click();
  ExpectFailureOn(dialog_->txtSendInterval(), "正常な送信周期を設定してください。\r\n2000～65535");
}

TEST_F(ComSettingDialogTest, ARunTimeErrorInCancelIsLoggedAndTheDialogStaysOpen) {
  Open("SendIntervalUnit=0", "SendIntervalUnit=40000");
  const std::size_t lines = Log().size();  // the opening logged its own line
  dialog_->cmdCancel()->click();
  EXPECT_TRUE(Boxes().empty());
  ASSERT_EQ(Log().size(), lines + 1);
  EXPECT_EQ(Log().back(), std::string(desc::kOverflow) + "(cmdCancel_Click)");
  EXPECT_TRUE(IsOpen());
  EXPECT_EQ(finished_->count(), 0);
}

// ---- Keys and closing -------------------------------------------------------------------

TEST_F(ComSettingDialogTest, EnterPressesOnlyAFocusedButtonAndEscNothing) {
  Open("UdpSrcPort=5000", "UdpSrcPort=bad");  // a pressed 設定 shows a message
  for (QWidget* target :
       std::initializer_list<QWidget*>{dialog_->txtSrcPort(), dialog_->cboTimeUnit()->lineEdit(),
                                       dialog_->cmdApply(), dialog_->cmdCancel(), dialog_}) {
    target->setFocus();
    const bool button = qobject_cast<QPushButton*>(target) != nullptr;
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
      if (button && key != Qt::Key_Escape) continue;
      QTest::keyClick(target, key);
      EXPECT_TRUE(IsOpen()) << target->metaObject()->className() << " key " << key;
    }
  }
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(finished_->count(), 0);

  dialog_->cmdApply()->setFocus();
  QTest::keyClick(dialog_->cmdApply(), Qt::Key_Return);
  EXPECT_EQ(Boxes().size(), 1u) << "設定 was pressed and found the bad port";
  dialog_->cmdCancel()->setFocus();
  QTest::keyClick(dialog_->cmdCancel(), Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(Boxes().size(), 2u) << "キャンセル was pressed and refused the bad stored port";
  EXPECT_TRUE(IsOpen());
  EXPECT_EQ(finished_->count(), 0);
}

TEST_F(ComSettingDialogTest, TheCloseBoxClosesWithoutFinishing) {
  Open("IPAddress=192.168.0.10", "IPAddress=bad");  // Cancel would refuse
  dialog_->close();
  EXPECT_FALSE(IsOpen());
  EXPECT_EQ(closed_->count(), 1);
  EXPECT_EQ(finished_->count(), 0);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(Bytes(), stored_);
  EXPECT_TRUE(DeletedAfterClose());
}

}  // namespace
}  // namespace ostrel
