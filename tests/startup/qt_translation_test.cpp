#include "startup/qt_translation.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QTranslator>

#include "ui/ui_support.h"

namespace ostrel {
namespace {

TEST(QtTranslation, TheExitQuestionOffersItsButtonsInJapanese) {
  QTranslator* japanese = InstallQtJapanese(*QCoreApplication::instance());
  if (japanese == nullptr) GTEST_SKIP() << "qtbase_ja.qm missing: install qt6-translations-l10n";
  QStringList captions;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    for (QAbstractButton* button : box->buttons()) captions << button->text();
    box->button(QMessageBox::Cancel)->click();
  });
  EXPECT_EQ(ShowMessage(nullptr, "終了しますか？", MsgIcon::Question, MsgButtons::OkCancel),
            MsgResult::Cancel);
  EXPECT_TRUE(captions.contains(QStringLiteral("キャンセル"))) << captions.join(' ').toStdString();
  QCoreApplication::removeTranslator(japanese);
  delete japanese;
}

}  // namespace
}  // namespace ostrel
