#include "senddata/byte_editor_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "common/display_text.h"
#include "common/tool_kind.h"
#include "logging/operation_log.h"
#include "ui/ui_support.h"
#include "senddata/flex_grid.h"
#include "support/test_support.h"

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace ostrel {
namespace {

class ByteEditorDialogTest : public ::testing::Test {
 protected:
  // A send grid as after loading 27 bytes: 0x00, 0x01, ... with byte 10 being 0x0A, and
  // the last five cells of the second row grey and empty.
  void SetUp() override {
    intToolKind = Kiv_UdpSnd;
    InitLog(dir_.str());
    grid_.SetRows(3);
    for (int c = 0; c < 16; ++c) grid_.SetTextMatrix(0, c + 1, HexText2(c));
    for (int r = 0; r < 2; ++r) grid_.SetTextMatrix(r + 1, 0, HexText4(r));
    for (int k = 0; k < 32; ++k) {
      grid_.SetRow(k / 16 + 1);
      grid_.SetCol(k % 16 + 1);
      if (k < 27) {
        grid_.SetText(HexText2(k));
      } else {
        grid_.SetCellBackColor(kGreyBackColor);
      }
    }
    grid_.SetRow(1);
    grid_.SetCol(3);
  }

  // Runs `open`, which should open the dialog modally, and `body` while it is open.
  // `body` should close it; if it does not, the dialog is hidden afterwards and the test
  // fails instead of hanging. Returns whether the dialog opened.
  bool WhileOpenedBy(const std::function<void()>& open, const std::function<void()>& body) {
    bool opened = false;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &dialog_, [&] {
      if (!dialog_.isVisible()) {
        timer.start(0);  // not open yet: look again on the next pass
        return;
      }
      opened = true;
      EXPECT_EQ(QApplication::activeModalWidget(), &dialog_);
      body();
      if (dialog_.isVisible()) {
        ADD_FAILURE() << "the dialog stayed open";
        dialog_.hide();
      }
    });
    timer.start(0);
    open();
    EXPECT_FALSE(dialog_.isVisible());
    return opened;
  }

  // Opens the dialog on a cell and runs `body` while it is open.
  void WhileOpen(int row, int col, const std::function<void()>& body) {
    EXPECT_TRUE(WhileOpenedBy(
        [&] { dialog_.Shown_Form(grid_, static_cast<int16_t>(row), static_cast<int16_t>(col)); },
        body))
        << "the dialog did not open on " << row << "," << col;
  }

  void Type(const QString& text) {
    QLineEdit* box = dialog_.txtInputData();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, text);
  }

  std::vector<int> TickedBits() const {
    std::vector<int> ticked;
    for (int i = 0; i < kDataBitCount; ++i) {
      if (dialog_.chkDataBit(i)->isChecked()) ticked.push_back(i);
    }
    return ticked;
  }

  void ClickBit(int index) {
    QCheckBox* box = dialog_.chkDataBit(index);
    QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
  }

  QString Text() const { return dialog_.txtInputData()->text(); }
  std::vector<std::string> Log() const { return test::LogMessages(strLogFile[Kiv_UdpSnd]); }

  test::TempDir dir_;
  FlexGrid grid_;
  ByteEditorDialog dialog_;
};

TEST_F(ByteEditorDialogTest, ControlsStandAtTheirPlacesWithTheirCaptionsAndFonts) {
  EXPECT_EQ(dialog_.windowTitle(), QStringLiteral("データ設定"));
  EXPECT_EQ(dialog_.size(), QSize(297, 247));
  EXPECT_EQ(dialog_.minimumSize(), dialog_.maximumSize());

  const std::vector<std::tuple<const char*, QString, QRect>> labels = {
      {"lblHex", QStringLiteral("HEX："), TwipsRect(1080, 2280, 735, 375)},
      {"lblTextNo", QStringLiteral("TextNo："), TwipsRect(360, 0, 1215, 375)},
      {"lblTextNoInfo", QString(), TwipsRect(1560, 0, 2055, 375)},
      {"lblStatus", QString(), TwipsRect(960, 600, 2415, 375)},
  };
  for (const auto& [name, caption, rect] : labels) {
    auto* label = dialog_.findChild<QLabel*>(QLatin1String(name));
    ASSERT_NE(label, nullptr) << name;
    EXPECT_EQ(label->text(), caption) << name;
    EXPECT_EQ(label->geometry(), rect) << name;
    EXPECT_EQ(label->font().pointSizeF(), 14.25) << name;
    EXPECT_TRUE(label->font().bold()) << name;
  }
  EXPECT_EQ(dialog_.lblStatus()->palette().color(QPalette::WindowText), QColor(Qt::red));

  QLineEdit* box = dialog_.txtInputData();
  EXPECT_EQ(box->geometry(), TwipsRect(1920, 2160, 615, 495));
  EXPECT_EQ(box->maxLength(), 2);
  EXPECT_EQ(box->font().pointSizeF(), 14.25);
  EXPECT_EQ(box->text(), "");

  EXPECT_EQ(dialog_.cmdApply()->text(), QStringLiteral("適用"));
  EXPECT_EQ(dialog_.cmdApply()->geometry(), TwipsRect(600, 3000, 1215, 495));
  EXPECT_TRUE(dialog_.cmdApply()->isEnabled());
  EXPECT_EQ(dialog_.cmdCancel()->text(), QStringLiteral("キャンセル"));
  EXPECT_EQ(dialog_.cmdCancel()->geometry(), TwipsRect(2760, 3000, 1215, 495));
  for (QPushButton* button : {dialog_.cmdApply(), dialog_.cmdCancel()}) {
    EXPECT_FALSE(button->isDefault());
    EXPECT_FALSE(button->autoDefault());
  }

  EXPECT_EQ(dialog_.fraBin()->title(), QStringLiteral("Bit"));
  EXPECT_EQ(dialog_.fraBin()->geometry(), TwipsRect(240, 1200, 3975, 855));
  EXPECT_EQ(dialog_.fraBin()->font().pointSizeF(), 9);
  EXPECT_TRUE(dialog_.fraBin()->font().bold());
  for (int i = 0; i < kDataBitCount; ++i) {
    QCheckBox* bit = dialog_.chkDataBit(i);
    EXPECT_EQ(bit->parentWidget(), dialog_.fraBin()) << i;
    EXPECT_EQ(bit->geometry(), TwipsRect(3480 - 480 * i, 240, 375, 495)) << i;
    EXPECT_EQ(bit->text(), "") << i;
    EXPECT_FALSE(bit->isChecked()) << i;
  }
}

TEST_F(ByteEditorDialogTest, TabGoesFromTheTextToTheButtonsThenBit0ToBit7) {
  std::vector<QWidget*> expected = {dialog_.cmdApply(), dialog_.cmdCancel()};
  for (int i = 0; i < kDataBitCount; ++i) expected.push_back(dialog_.chkDataBit(i));
  expected.push_back(dialog_.txtInputData());
  std::vector<QWidget*> seen;
  QWidget* widget = dialog_.txtInputData();
  while (seen.size() < expected.size()) {
    do {
      widget = widget->nextInFocusChain();
    } while (widget->focusPolicy() == Qt::NoFocus);
    seen.push_back(widget);
  }
  EXPECT_EQ(seen, expected);
}

TEST_F(ByteEditorDialogTest, OpeningShowsTheCellsByteItsBitsAndItsPosition) {
  WhileOpen(1, 11, [&] {
    EXPECT_EQ(Text(), "0A");
    EXPECT_EQ(TickedBits(), (std::vector<int>{1, 3}));
    EXPECT_EQ(dialog_.lblTextNoInfo()->text(), "0000-0A");
    EXPECT_EQ(dialog_.lblStatus()->text(), "");
    EXPECT_TRUE(dialog_.cmdApply()->isEnabled());
    dialog_.cmdCancel()->click();
  });
  WhileOpen(2, 11, [&] {
    EXPECT_EQ(Text(), "1A");
    EXPECT_EQ(TickedBits(), (std::vector<int>{1, 3, 4}));
    EXPECT_EQ(dialog_.lblTextNoInfo()->text(), "0001-0A");
    dialog_.cmdCancel()->click();
  });
  EXPECT_TRUE(Log().empty());
}

TEST_F(ByteEditorDialogTest, ApplyWritesTheTypedByteAsTwoDigitsIntoTheCellOnly) {
  WhileOpen(1, 5, [&] {
    Type("a");
    EXPECT_EQ(Text(), "A");
    EXPECT_EQ(TickedBits(), (std::vector<int>{1, 3}));
    dialog_.cmdApply()->click();
  });
  EXPECT_EQ(grid_.TextMatrix(1, 5), "0A");
  EXPECT_EQ(Text(), "0A");

  WhileOpen(2, 11, [&] {
    Type("ff");
    EXPECT_EQ(Text(), "FF");
    EXPECT_EQ(TickedBits().size(), 8u);
    dialog_.cmdApply()->click();
  });
  EXPECT_EQ(grid_.TextMatrix(2, 11), "FF");

  // Nothing else of the grid moved: the current cell, the row count, the grey cells.
  EXPECT_EQ(grid_.Row(), 1);
  EXPECT_EQ(grid_.Col(), 3);
  EXPECT_EQ(grid_.Rows(), 3);
  EXPECT_EQ(grid_.CellBackColorAt(2, 16), kGreyBackColor);
  EXPECT_EQ(grid_.CellBackColorAt(2, 11), kDefaultBackColor);
  EXPECT_EQ(grid_.TextMatrix(1, 4), "03");
  EXPECT_EQ(grid_.TextMatrix(1, 6), "05");
}

TEST_F(ByteEditorDialogTest, BitBoxesClickedByTheOperatorRewriteTheText) {
  WhileOpen(1, 11, [&] {
    ClickBit(7);
    EXPECT_EQ(Text(), "8A");
    ClickBit(1);
    EXPECT_EQ(Text(), "88");
    // The space bar on a focused box clicks it too.
    dialog_.chkDataBit(0)->setFocus();
    QTest::keyClick(dialog_.chkDataBit(0), Qt::Key_Space);
    EXPECT_EQ(Text(), "89");
    EXPECT_EQ(TickedBits(), (std::vector<int>{0, 3, 7}));
    dialog_.cmdApply()->click();
  });
  EXPECT_EQ(grid_.TextMatrix(1, 11), "89");
}

TEST_F(ByteEditorDialogTest, InvalidEntryShowsTheStatusAndDisablesApply) {
  WhileOpen(1, 11, [&] {
    Type("G");
    EXPECT_EQ(Text(), "");
    EXPECT_EQ(dialog_.lblStatus()->text(), QStringLiteral("データ不正"));
    EXPECT_TRUE(TickedBits().empty());
    EXPECT_FALSE(dialog_.cmdApply()->isEnabled());
    Type("1");
    EXPECT_EQ(dialog_.lblStatus()->text(), "");
    EXPECT_EQ(TickedBits(), (std::vector<int>{0}));
    EXPECT_TRUE(dialog_.cmdApply()->isEnabled());
    dialog_.cmdApply()->click();
  });
  EXPECT_EQ(grid_.TextMatrix(1, 11), "01");
}

TEST_F(ByteEditorDialogTest, CancelLeavesTheCellAndReopeningShowsItAgain) {
  WhileOpen(1, 11, [&] {
    Type("7");
    ClickBit(6);
    EXPECT_EQ(Text(), "47");
    dialog_.cmdCancel()->click();
  });
  EXPECT_EQ(grid_.TextMatrix(1, 11), "0A");
  EXPECT_EQ(Text(), "47");  // hidden, not reset
  WhileOpen(1, 11, [&] {
    EXPECT_EQ(Text(), "0A");
    EXPECT_EQ(TickedBits(), (std::vector<int>{1, 3}));
    dialog_.cmdCancel()->click();
  });
}

TEST_F(ByteEditorDialogTest, ControlStatesCarryOverBetweenOpenings) {
  WhileOpen(1, 11, [&] {
    Type("Z");
    dialog_.cmdCancel()->click();
  });
  // Hidden, the dialog keeps what it showed.
  EXPECT_EQ(dialog_.lblStatus()->text(), QStringLiteral("データ不正"));
  EXPECT_FALSE(dialog_.cmdApply()->isEnabled());

  // The operator moves it; later openings are not centred again.
  const QPoint moved = dialog_.pos() + QPoint(20, -10);
  dialog_.move(moved);
  WhileOpen(1, 2, [&] {
    EXPECT_EQ(dialog_.pos(), moved);
    EXPECT_EQ(Text(), "01");
    EXPECT_EQ(dialog_.lblStatus()->text(), "");
    EXPECT_TRUE(dialog_.cmdApply()->isEnabled());
    EXPECT_EQ(dialog_.lblTextNoInfo()->text(), "0000-01");
    dialog_.cmdCancel()->click();
  });
}

TEST_F(ByteEditorDialogTest, FirstOpeningCentresTheDialogOnTheScreen) {
  // Where CenterForm puts a dialog of this kind that has not been shown yet.
  ByteEditorDialog twin;
  CenterForm(twin);
  ASSERT_NE(twin.pos(), dialog_.pos());
  WhileOpen(1, 11, [&] {
    EXPECT_EQ(dialog_.pos(), twin.pos());
    dialog_.cmdCancel()->click();
  });
}

TEST_F(ByteEditorDialogTest, EnterInTheBoxAndEscapeDoNothingEnterOnAButtonPressesIt) {
  WhileOpen(1, 11, [&] {
    Type("5");
    for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
      QTest::keyClick(dialog_.txtInputData(), static_cast<Qt::Key>(key));
      EXPECT_TRUE(dialog_.isVisible()) << key;
    }
    dialog_.cmdApply()->setFocus();
    QTest::keyClick(dialog_.cmdApply(), Qt::Key_Escape);
    EXPECT_TRUE(dialog_.isVisible());
    EXPECT_EQ(grid_.TextMatrix(1, 11), "0A");
    QTest::keyClick(dialog_.cmdApply(), Qt::Key_Return);
    EXPECT_FALSE(dialog_.isVisible());
  });
  EXPECT_EQ(grid_.TextMatrix(1, 11), "05");
}

TEST_F(ByteEditorDialogTest, TheCloseBoxHidesLikeCancel) {
  WhileOpen(1, 11, [&] {
    Type("5");
    dialog_.close();
  });
  EXPECT_EQ(grid_.TextMatrix(1, 11), "0A");
  WhileOpen(1, 11, [&] {
    EXPECT_EQ(Text(), "0A");
    dialog_.cmdCancel()->click();
  });
}

TEST_F(ByteEditorDialogTest, DoubleClickOnAGreyCellLogsAndOpensNothing) {
  WhileOpen(1, 11, [&] { dialog_.cmdCancel()->click(); });
  grid_.SetRow(2);
  grid_.SetCol(12);
  EXPECT_FALSE(WhileOpenedBy([&] { fgrdSendData_DblClick(dialog_, grid_); },
                             [&] { dialog_.cmdCancel()->click(); }));
  EXPECT_EQ(Log(), std::vector<std::string>{"型が一致しません。(Shown_Form)"});
  EXPECT_EQ(Text(), "");
  EXPECT_TRUE(TickedBits().empty());
  EXPECT_EQ(grid_.TextMatrix(2, 12), "");
  EXPECT_EQ(dialog_.Editor().intInputLock(), kInputIdle);

  // A data cell opens as ever.
  grid_.SetCol(2);
  EXPECT_TRUE(WhileOpenedBy([&] { fgrdSendData_DblClick(dialog_, grid_); },
                            [&] {
                              EXPECT_EQ(Text(), "11");
                              dialog_.cmdCancel()->click();
                            }));
  EXPECT_EQ(Log().size(), 1u);
}

TEST_F(ByteEditorDialogTest, TheGridsDoubleClickOpensTheEditorOnTheClickedCell) {
  grid_.resize(585, 161);
  grid_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid_));
  const QPoint cell = grid_.visualRect(grid_.model()->index(1, 4)).center();  // cell (2, 5)
  QObject::connect(&grid_, &FlexGrid::DblClick, &dialog_,
                   [&] { fgrdSendData_DblClick(dialog_, grid_); });
  QString opened;
  EXPECT_TRUE(WhileOpenedBy([&] { QTest::mouseDClick(grid_.viewport(), Qt::LeftButton, {}, cell); },
                            [&] {
                              opened = dialog_.lblTextNoInfo()->text();
                              Type("c");
                              dialog_.cmdApply()->click();
                            }));
  EXPECT_EQ(opened, "0001-04");
  EXPECT_EQ(grid_.TextMatrix(2, 5), "0C");
}

}  // namespace
}  // namespace ostrel
