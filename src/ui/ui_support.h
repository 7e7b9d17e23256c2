#pragma once
// What every window of the program shares: positions in twips (15 per pixel), the
// fonts with their fallbacks, the dialogs' labels, buttons and keys, message boxes titled
// "Ostrel", and CenterForm.

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <string>

class QAbstractButton;
class QKeyEvent;
class QLabel;
class QPushButton;
class QWidget;

namespace ostrel {

inline constexpr int kTwipsPerPixel = 15;

constexpr int Px(int twips) { return twips / kTwipsPerPixel; }
inline QRect TwipsRect(int left, int top, int width, int height) {
  return QRect(Px(left), Px(top), Px(width), Px(height));
}

// "ＭＳ Ｐゴシック" with the fallback "Noto Sans CJK JP".
QFont ProportionalFont(double points, bool bold = false);
// "ＭＳ ゴシック" with the fallback "Noto Sans Mono CJK JP".
QFont MonospaceFont(double points, bool bold = false);

// A dialog's label: object name, caption (UTF-8), place and font.
QLabel* MakeDialogLabel(QWidget* parent, const QString& name, const char* caption, QRect geometry,
                        const QFont& font);
// A dialog's button. It is never a default button: Enter presses it only while it has
// the focus (PressOnEnter), like Space.
QPushButton* MakeDialogButton(QWidget* parent, const char* name, const char* caption,
                              QRect geometry);
// Enter (either key) presses `button` while it has the focus, as on the desktops the
// operators know; a held key presses it once. Nothing else changes: Enter in a text box
// still goes to the box.
void PressOnEnter(QAbstractButton* button);
// The dialogs close by their buttons and the close box only: Enter and Esc are accepted
// here and do nothing (true); any other key is left to the dialog (false).
bool SwallowEnterAndEscape(QKeyEvent& event);

enum class MsgIcon { None, Information, Critical, Question };
enum class MsgButtons { Ok, OkCancel };
enum class MsgResult { Ok, Cancel };

// Shows message boxes. The real one is a QMessageBox; tests install a fake.
class MessageBoxPresenter {
 public:
  virtual ~MessageBoxPresenter() = default;
  // `text` lines are joined with CR LF. With OkCancel, Cancel is the default button and
  // closing the box counts as Cancel.
  virtual MsgResult Show(QWidget* parent, const std::string& text, MsgIcon icon,
                         MsgButtons buttons) = 0;
};

// Shows a message box titled "Ostrel" through the installed presenter.
MsgResult ShowMessage(QWidget* parent, const std::string& text, MsgIcon icon,
                      MsgButtons buttons = MsgButtons::Ok);

// Installs `presenter` (it must outlive its use); nullptr restores the real one.
void SetMessageBoxPresenter(MessageBoxPresenter* presenter);

// The centred position, in twips, of a window of `outer` twips on a screen of `screen`
// twips: (screen - outer) rounded half to even to whole twips, halved truncating towards
// zero. A window larger than the screen gets a negative position.
QPoint CenteredPositionTwips(QSizeF screen, QSizeF outer);

// Moves `form` so that its frame is centred on its screen.
void CenterForm(QWidget& form);

}  // namespace ostrel
