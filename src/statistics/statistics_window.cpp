#include "statistics_window.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

#include "common/run_time_error.h"
#include "logging/error_handler.h"
#include "statistics/statistics_texts.h"
#include "statistics/statistics.h"
#include "statistics/statistics_csv.h"
#include "ui/ui_support.h"

namespace ostrel {
namespace {

constexpr int kRefreshMilliseconds = 100;  // at most ten redraws a second
constexpr int kFigureColumns = 2;          // caption/value pairs side by side
constexpr const char* kSaveFailed = "CSVファイルを保存できませんでした。";

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace

StatisticsWindow::StatisticsWindow(TransmissionStatistics& statistics, QWidget* parent)
    : QWidget(parent, Qt::Window), statistics_(statistics) {
  setWindowTitle(Q("統計"));
  setFont(ProportionalFont(9));
  last_folder_ = QDir::homePath();

  auto* layout = new QVBoxLayout(this);
  auto* figures = new QGridLayout;
  BuildFigures(figures);
  layout->addLayout(figures);
  // The verdict counts appear once a cycle has had a verdict (an expected answer is set).
  lblVerdicts_ = MakeDialogLabel(this, QStringLiteral("lblVerdicts"), "", {},
                                 ProportionalFont(11.25, true));
  lblVerdicts_->hide();
  layout->addWidget(lblVerdicts_);
  layout->addWidget(BuildPlot(), 1);

  auto* buttons = new QHBoxLayout;
  lblSaveResult_ = new QLabel(this);
  lblSaveResult_->setObjectName(QStringLiteral("lblSaveResult"));
  buttons->addWidget(lblSaveResult_, 1);
  cmdReset_ = MakeDialogButton(this, "cmdReset", "リセット", TwipsRect(0, 0, 1215, 495));
  cmdSaveCsv_ = MakeDialogButton(this, "cmdSaveCsv", "CSV保存", TwipsRect(0, 0, 1215, 495));
  for (QPushButton* button : {cmdReset_, cmdSaveCsv_}) {
    button->setMinimumSize(button->size());
    buttons->addWidget(button);
  }
  layout->addLayout(buttons);
  connect(cmdReset_, &QPushButton::clicked, this, &StatisticsWindow::cmdReset_Click);
  connect(cmdSaveCsv_, &QPushButton::clicked, this, &StatisticsWindow::cmdSaveCsv_Click);

  refresh_timer_ = new QTimer(this);
  refresh_timer_->setSingleShot(true);
  connect(refresh_timer_, &QTimer::timeout, this, &StatisticsWindow::Refresh);
  resize(720, 620);
}

StatisticsWindow::~StatisticsWindow() {
  statistics_.SetChangeListener({});
  cancel_save_ = true;
  if (save_thread_.joinable()) save_thread_.join();
}

void StatisticsWindow::BuildFigures(QGridLayout* grid) {
  const QFont font = ProportionalFont(11.25, true);
  const auto figures = StatisticsFigures(statistics_);
  const int rows = static_cast<int>((figures.size() + kFigureColumns - 1) / kFigureColumns);
  for (size_t i = 0; i < figures.size(); ++i) {
    const StatisticsFigure& figure = figures[i];
    // Counters fill the left column, round-trip times the right one.
    const int row = static_cast<int>(i) % rows;
    const int column = static_cast<int>(i) / rows * 2;
    const QString name = QStringLiteral("lbl") + QLatin1String(figure.name);
    grid->addWidget(MakeDialogLabel(this, name, figure.caption, {}, font), row, column);
    QLabel* value = MakeDialogLabel(this, name + QStringLiteral("Data"), "", {}, font);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    value->setMinimumWidth(Px(1800));
    grid->addWidget(value, row, column + 1);
    values_[figure.name] = value;
  }
  grid->setColumnStretch(kFigureColumns * 2, 1);
  grid->setHorizontalSpacing(Px(240));
}

QWidget* StatisticsWindow::BuildPlot() {
  chart_ = new QChart;
  chart_->setFont(ProportionalFont(9));
  chart_->legend()->setFont(ProportionalFont(9));
  chart_->legend()->setAlignment(Qt::AlignBottom);
  chart_->setMargins(QMargins(4, 4, 4, 4));

  rtt_series_ = new QLineSeries(chart_);
  rtt_series_->setName(Q("往復時間"));
  rtt_series_->setPointsVisible(true);
  unanswered_series_ = new QScatterSeries(chart_);
  unanswered_series_->setName(Q("応答なし"));
  unanswered_series_->setColor(Qt::red);
  unanswered_series_->setBorderColor(Qt::red);
  unanswered_series_->setMarkerSize(9);
  chart_->addSeries(rtt_series_);
  chart_->addSeries(unanswered_series_);

  time_axis_ = new QDateTimeAxis(chart_);
  time_axis_->setFormat(QStringLiteral("HH:mm:ss"));
  time_axis_->setTitleText(Q("送信時刻 (時:分:秒)"));
  time_axis_->setTickCount(6);
  rtt_axis_ = new QValueAxis(chart_);
  rtt_axis_->setTitleText(Q("往復時間 (ms)"));
  rtt_axis_->setLabelFormat(QStringLiteral("%g"));
  rtt_axis_->setTickType(QValueAxis::TicksDynamic);
  rtt_axis_->setTickAnchor(0);
  for (auto* axis : std::initializer_list<QAbstractAxis*>{time_axis_, rtt_axis_}) {
    axis->setTitleFont(ProportionalFont(9, true));
    axis->setLabelsFont(ProportionalFont(9));
  }
  chart_->addAxis(time_axis_, Qt::AlignBottom);
  chart_->addAxis(rtt_axis_, Qt::AlignLeft);
  for (QXYSeries* series : std::initializer_list<QXYSeries*>{rtt_series_, unanswered_series_}) {
    series->attachAxis(time_axis_);
    series->attachAxis(rtt_axis_);
  }

  auto* view = new QChartView(chart_, this);
  view->setObjectName(QStringLiteral("chtRtt"));
  view->setRenderHint(QPainter::Antialiasing);
  view->setMinimumHeight(260);
  return view;
}

void StatisticsWindow::Open() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

QLabel* StatisticsWindow::FigureValue(const std::string& name) const {
  const auto it = values_.find(name);
  return it == values_.end() ? nullptr : it->second;
}

void StatisticsWindow::showEvent(QShowEvent* event) {
  statistics_.SetChangeListener([this] { ScheduleRefresh(); });
  Refresh();
  QWidget::showEvent(event);
}

void StatisticsWindow::hideEvent(QHideEvent* event) {
  statistics_.SetChangeListener({});
  refresh_timer_->stop();
  QWidget::hideEvent(event);
}

void StatisticsWindow::ScheduleRefresh() {
  if (refresh_timer_->isActive()) return;
  const qint64 since = since_refresh_.isValid() ? since_refresh_.elapsed() : kRefreshMilliseconds;
  refresh_timer_->start(static_cast<int>(std::max<qint64>(0, kRefreshMilliseconds - since)));
}

void StatisticsWindow::Refresh() {
  since_refresh_.start();
  for (const StatisticsFigure& figure : StatisticsFigures(statistics_)) {
    if (QLabel* label = FigureValue(figure.name))
      label->setText(QString::fromStdString(figure.value));
  }
  const VerdictCounter& verdicts = statistics_.verdicts();
  lblVerdicts_->setVisible(verdicts.Total() > 0);
  lblVerdicts_->setText(QString::fromStdString(VerdictCountsText(verdicts)));
  RefreshPlot();
}

void StatisticsWindow::RefreshPlot() {
  const RttPlot plot = MakeRttPlot(statistics_.LastRecords(kPlotTransmissions));
  QList<QPointF> answered;
  answered.reserve(static_cast<qsizetype>(plot.answered.size()));
  for (const auto& [x, y] : plot.answered) answered.append(QPointF(x, y));
  QList<QPointF> unanswered;
  unanswered.reserve(static_cast<qsizetype>(plot.unanswered.size()));
  for (double x : plot.unanswered) unanswered.append(QPointF(x, 0));  // on the time axis
  rtt_series_->replace(answered);
  unanswered_series_->replace(unanswered);
  if (plot.answered.empty() && plot.unanswered.empty()) {
    const QDateTime now = QDateTime::currentDateTime();
    time_axis_->setRange(now.addSecs(-60), now);
  } else {
    time_axis_->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(plot.x_min)),
                         QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(plot.x_max)));
  }
  rtt_axis_->setRange(0, plot.y_max);
  rtt_axis_->setTickInterval(plot.y_step);
}

void StatisticsWindow::cmdReset_Click() {
  statistics_.Reset();
  lblSaveResult_->clear();
  Refresh();
}

void StatisticsWindow::cmdSaveCsv_Click() {
  if (saving_) return;
  const QString suggested = QDir(last_folder_)
                                .filePath(QDateTime::currentDateTime().toString(
                                    QStringLiteral("'ostrel-statistics-'yyyyMMdd-HHmmss'.csv'")));
  const QString path = QFileDialog::getSaveFileName(this, Q("CSV保存"), suggested,
                                                    Q("CSVファイル (*.csv);;すべてのファイル (*)"));
  if (path.isEmpty()) return;
  last_folder_ = QFileInfo(path).absolutePath();
  SaveCsv(path);
}

bool StatisticsWindow::SaveCsv(const QString& path) {
  if (saving_) return false;
  if (save_thread_.joinable()) save_thread_.join();  // the previous one has reported
  saving_ = true;
  cmdSaveCsv_->setEnabled(false);
  lblSaveResult_->setText(Q("保存中…"));
  cancel_save_ = false;
  save_thread_ = std::thread([this, path, records = statistics_.Snapshot()] {
    bool saved = false;
    std::string error;
    try {
      saved = SaveStatisticsCsv(records, path.toStdString(), &cancel_save_);
    } catch (const std::exception& e) {
      error = DescriptionOf(e);
    } catch (...) {
      error = desc::kDeviceIo;
    }
    // Reported from the event loop; dropped when the window is gone by then.
    QMetaObject::invokeMethod(
        this, [this, path, saved, error] { OnSaveDone(path, saved, error); }, Qt::QueuedConnection);
  });
  return true;
}

void StatisticsWindow::OnSaveDone(const QString& path, bool saved, const std::string& error) {
  saving_ = false;
  cmdSaveCsv_->setEnabled(true);
  if (saved) {
    lblSaveResult_->setText(Q("保存しました: ") + QFileInfo(path).fileName());
  } else {
    lblSaveResult_->clear();
    if (!error.empty() || !cancel_save_) {
      LogErrorText("cmdSaveCsv_Click", error);
      ShowMessage(this, std::string(kSaveFailed) + "\r\n" + path.toStdString() + "\r\n" + error,
                  MsgIcon::Critical);
    }
  }
  emit SaveFinished(saved);
}

}  // namespace ostrel
