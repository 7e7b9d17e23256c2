#include "ui_support.h"

#include <QGuiApplication>
#include <QLayout>
#include <QMessageBox>
#include <QScreen>
#include <QString>
#include <QWidget>
#include <cmath>

namespace ostrel {
namespace {

class QtMessageBoxPresenter final : public MessageBoxPresenter {
 public:
  MsgResult Show(QWidget* parent, const std::string& text, MsgIcon icon,
                 MsgButtons buttons) override {
    QMessageBox box(parent);
    box.setWindowTitle(QStringLiteral("Ostrel"));
    box.setText(QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    switch (icon) {
      case MsgIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
      case MsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
      case MsgIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
      case MsgIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    if (buttons == MsgButtons::OkCancel) {
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setDefaultButton(QMessageBox::Cancel);
      box.setEscapeButton(QMessageBox::Cancel);
    } else {
      box.setStandardButtons(QMessageBox::Ok);
    }
    box.setFont(ProportionalFont(9));
    return box.exec() == QMessageBox::Ok ? MsgResult::Ok : MsgResult::Cancel;
  }
};

QtMessageBoxPresenter g_qt_presenter;
MessageBoxPresenter* g_presenter = &g_qt_presenter;

QFont FontWithFallback(const QString& family, const QString& fallback, double points, bool bold) {
  QFont font;
  font.setFamilies({family, fallback});
  font.setPointSizeF(points);
  font.setBold(bold);
  return font;
}

}  // namespace

QFont ProportionalFont(double points, bool bold) {
  return FontWithFallback(QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("Noto Sans CJK JP"),
                          points, bold);
}

QFont MonospaceFont(double points, bool bold) {
  return FontWithFallback(QStringLiteral("ＭＳ ゴシック"), QStringLiteral("Noto Sans Mono CJK JP"),
                          points, bold);
}

MsgResult ShowMessage(QWidget* parent, const std::string& text, MsgIcon icon, MsgButtons buttons) {
  return g_presenter->Show(parent, text, icon, buttons);
}

void SetMessageBoxPresenter(MessageBoxPresenter* presenter) {
  g_presenter = presenter ? presenter : &g_qt_presenter;
}

QPoint CenteredPositionTwips(QSizeF screen, QSizeF outer) {
  const auto axis = [](double screen_twips, double outer_twips) {
    // Round half to even, then halve truncating towards zero.
    const auto whole = static_cast<long long>(std::nearbyint(screen_twips - outer_twips));
    return static_cast<int>(whole / 2);
  };
  return QPoint(axis(screen.width(), outer.width()), axis(screen.height(), outer.height()));
}

void CenterForm(QWidget& form) {
  const QScreen* screen = form.screen() ? form.screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  // A window that has not been shown yet has not been laid out either: do it now, so
  // the size used is the one it will show with.
  if (!form.isVisible() && form.layout()) form.layout()->activate();
  const QRect available = screen->geometry();
  const QSize frame = form.frameGeometry().size();
  const QPoint twips = CenteredPositionTwips(
      QSizeF(available.width() * kTwipsPerPixel, available.height() * kTwipsPerPixel),
      QSizeF(frame.width() * kTwipsPerPixel, frame.height() * kTwipsPerPixel));
  form.move(available.topLeft() + QPoint(twips.x() / kTwipsPerPixel, twips.y() / kTwipsPerPixel));
}

}  // namespace ostrel
