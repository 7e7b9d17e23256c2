#include "ui_support.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
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

// Watches one button and presses it on Enter, before the button (which takes only Space)
// or its window (where Enter presses nothing) sees the key.
class EnterPressesButton final : public QObject {
 public:
  explicit EnterPressesButton(QAbstractButton* button) : QObject(button), button_(button) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != button_ || event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
    if (!key->isAutoRepeat() && button_->isEnabled()) button_->click();
    return true;
  }

 private:
  QAbstractButton* button_;
};

QFont FontWithFallback(const QString& family, const QString& fallback, double points, bool bold) {
  QFont font;
  font.setFamilies({family, fallback});
  font.setPointSizeF(points);
  font.setBold(bold);
  return font;
}

}  // namespace

QLabel* MakeDialogLabel(QWidget* parent, const QString& name, const char* caption, QRect geometry,
                        const QFont& font) {
  auto* label = new QLabel(QString::fromUtf8(caption), parent);
  label->setObjectName(name);
  label->setGeometry(geometry);
  label->setFont(font);
  return label;
}

QPushButton* MakeDialogButton(QWidget* parent, const char* name, const char* caption,
                              QRect geometry) {
  auto* button = new QPushButton(QString::fromUtf8(caption), parent);
  button->setObjectName(QLatin1String(name));
  button->setGeometry(geometry);
  button->setAutoDefault(false);
  button->setDefault(false);
  PressOnEnter(button);
  return button;
}

void PressOnEnter(QAbstractButton* button) {
  button->installEventFilter(new EnterPressesButton(button));
}

bool SwallowEnterAndEscape(QKeyEvent& event) {
  switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      event.accept();
      return true;
    default:
      return false;
  }
}

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
