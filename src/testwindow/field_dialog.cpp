#include "field_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include "fields/crc.h"
#include "logging/error_handler.h"
#include "testfile/field_list.h"
#include "testwindow/dialog_rows.h"
#include "ui/ui_support.h"

namespace ostrel {
namespace {

using namespace dialog_rows;

constexpr const char* kCustomModel = "パラメータで指定";
constexpr const char* kKinds[] = {"crc",  "sum8",   "sum16",   "xor8",
                                  "lrc8", "inet16", "counter", "time"};

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }
QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }
std::string S(const QString& text) { return text.toStdString(); }

}  // namespace

FieldDialog::FieldDialog(FieldList& list, std::optional<std::size_t> index, QWidget* parent)
    : QDialog(parent), list_(list), index_(index) {
  setWindowTitle(Q("フィールド"));
  setFont(ProportionalFont(9));
  BuildControls();
  setFixedSize(Px(kClientWidth), Px(120 + 16 * kRowHeight + 120));
  if (index_ && *index_ < list_.Fields().size())
    SetForm(FormOf(list_.Fields()[*index_]));
  else
    SetForm(FieldForm{});
}

void FieldDialog::BuildControls() {
  const QFont font = ProportionalFont(9);
  int row = 0;
  const auto label = [&](const char* name, const char* caption) {
    MakeDialogLabel(this, Q(name), caption, Row(row, kLabelLeft, kLabelWidth), font);
  };
  const auto combo = [&](const char* name, const char* caption) {
    label((std::string("lbl") + name).c_str(), caption);
    auto* box = new QComboBox(this);
    box->setObjectName(Q(name));
    box->setGeometry(Row(row++, kBoxLeft, kBoxWidth));
    return box;
  };
  const auto text = [&](const char* name, const char* caption) {
    label((std::string("lbl") + name).c_str(), caption);
    auto* box = new QLineEdit(this);
    box->setObjectName(Q(name));
    box->setGeometry(Row(row++, kBoxLeft, kBoxWidth));
    box->setFont(MonospaceFont(9));
    return box;
  };

  cboKind_ = combo("cboKind", "種類 (kind)");
  for (const char* kind : kKinds) cboKind_->addItem(Q(kind));
  cboModel_ = combo("cboModel", "CRC モデル (model)");
  for (const CrcModel& model : CrcCatalogue())
    cboModel_->addItem(
        QString::fromUtf8(model.name.data(), static_cast<qsizetype>(model.name.size())));
  cboModel_->addItem(Q(kCustomModel));
  txtCrcWidth_ = text("txtCrcWidth", "　ビット幅 (width)");
  txtPoly_ = text("txtPoly", "　多項式 (poly)");
  txtInit_ = text("txtInit", "　初期値 (init)");
  txtXorout_ = text("txtXorout", "　最終 XOR (xorout)");
  chkRefin_ = new QCheckBox(Q("入力反転 (refin)"), this);
  chkRefin_->setObjectName(QStringLiteral("chkRefin"));
  chkRefin_->setGeometry(Row(row, kBoxLeft, kBoxWidth / 2));
  chkRefout_ = new QCheckBox(Q("出力反転 (refout)"), this);
  chkRefout_->setObjectName(QStringLiteral("chkRefout"));
  chkRefout_->setGeometry(Row(row++, kBoxLeft + kBoxWidth / 2, kBoxWidth / 2));
  txtAt_ = text("txtAt", "位置 (at)");
  txtAt_->setPlaceholderText(Q("整数 または end"));
  txtFrom_ = text("txtFrom", "対象の先頭 (from)");
  txtTo_ = text("txtTo", "対象の末尾 (to)");
  cboOrder_ = combo("cboOrder", "バイト順 (order)");
  cboOrder_->addItem(Q("big"));
  cboOrder_->addItem(Q("little"));
  txtWidth_ = text("txtWidth", "バイト数 (width)");
  txtStart_ = text("txtStart", "初期値 (start)");
  txtStep_ = text("txtStep", "増分 (step)");
  ++row;
  const int right = kBoxLeft + kBoxWidth;
  cmdOk_ = MakeDialogButton(this, "cmdOk", "OK",
                            TwipsRect(right - 3000, 120 + row * kRowHeight, 1380, 375));
  cmdCancel_ = MakeDialogButton(this, "cmdCancel", "キャンセル",
                                TwipsRect(right - 1380, 120 + row * kRowHeight, 1380, 375));

  connect(cboKind_, &QComboBox::currentIndexChanged, this, &FieldDialog::EnableForKind);
  connect(cboModel_, &QComboBox::currentIndexChanged, this, &FieldDialog::EnableForKind);
  connect(cmdOk_, &QPushButton::clicked, this, &FieldDialog::cmdOk_Click);
  connect(cmdCancel_, &QPushButton::clicked, this, &QDialog::reject);
}

FieldForm FieldDialog::Form() const {
  FieldForm form;
  form.kind = S(cboKind_->currentText());
  form.custom = cboModel_->currentIndex() == cboModel_->count() - 1;
  form.model = form.custom ? "" : S(cboModel_->currentText());
  form.crc_width = S(txtCrcWidth_->text());
  form.poly = S(txtPoly_->text());
  form.init = S(txtInit_->text());
  form.xorout = S(txtXorout_->text());
  form.refin = chkRefin_->isChecked();
  form.refout = chkRefout_->isChecked();
  form.at = S(txtAt_->text());
  form.from = S(txtFrom_->text());
  form.to = S(txtTo_->text());
  form.order = S(cboOrder_->currentText());
  form.width = S(txtWidth_->text());
  form.start = S(txtStart_->text());
  form.step = S(txtStep_->text());
  return form;
}

void FieldDialog::SetForm(const FieldForm& form) {
  cboKind_->setCurrentIndex(std::max(0, cboKind_->findText(Q(form.kind))));
  const int model = form.custom ? -1 : cboModel_->findText(Q(form.model));
  cboModel_->setCurrentIndex(model >= 0 ? model : cboModel_->count() - 1);
  txtCrcWidth_->setText(Q(form.crc_width));
  txtPoly_->setText(Q(form.poly));
  txtInit_->setText(Q(form.init));
  txtXorout_->setText(Q(form.xorout));
  chkRefin_->setChecked(form.refin);
  chkRefout_->setChecked(form.refout);
  txtAt_->setText(Q(form.at));
  txtFrom_->setText(Q(form.from));
  txtTo_->setText(Q(form.to));
  cboOrder_->setCurrentIndex(std::max(0, cboOrder_->findText(Q(form.order))));
  txtWidth_->setText(Q(form.width));
  txtStart_->setText(Q(form.start));
  txtStep_->setText(Q(form.step));
  EnableForKind();
}

void FieldDialog::EnableForKind() {
  const std::string kind = S(cboKind_->currentText());
  const bool crc = KindTakesModel(kind);
  const bool custom = crc && cboModel_->currentIndex() == cboModel_->count() - 1;
  cboModel_->setEnabled(crc);
  for (QWidget* box : std::initializer_list<QWidget*>{txtCrcWidth_, txtPoly_, txtInit_, txtXorout_,
                                                      chkRefin_, chkRefout_})
    box->setEnabled(custom);
  txtFrom_->setEnabled(KindTakesRange(kind));
  txtTo_->setEnabled(KindTakesRange(kind));
  txtWidth_->setEnabled(KindTakesWidth(kind));
  txtStart_->setEnabled(KindTakesCounter(kind));
  txtStep_->setEnabled(KindTakesCounter(kind));
}

void FieldDialog::cmdOk_Click() {
  RunHandled("cmdOk_Click", [&] {
    const std::size_t at = index_.value_or(list_.Fields().size());
    FieldDefinition definition;
    std::string error = list_.Read(FieldObject(Form()), at, definition);
    if (error.empty()) error = index_ ? list_.Replace(*index_, definition) : list_.Add(definition);
    if (!error.empty()) {
      ShowMessage(this, error, MsgIcon::Critical);
      return;
    }
    accept();
  });
}

void FieldDialog::keyPressEvent(QKeyEvent* event) {
  if (!SwallowEnterAndEscape(*event)) QDialog::keyPressEvent(event);
}

}  // namespace ostrel
