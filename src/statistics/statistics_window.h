#pragma once
// The statistics window "統計": the counters and round-trip times of the send cycles as
// labels, a plot of the newest transmissions' round-trip times, and the buttons
// "リセット" (forget everything) and "CSV保存" (save the records). Modeless; the main
// window keeps one and raises it when opened again.
//
// The window costs nothing while hidden: it listens to the statistics only while
// visible, and then redraws at most ten times a second. A save runs on a worker thread
// from a snapshot, so the send cycle never waits for the disk.

#include <QElapsedTimer>
#include <QString>
#include <QWidget>
#include <atomic>
#include <map>
#include <string>
#include <thread>

class QChart;
class QDateTimeAxis;
class QGridLayout;
class QLabel;
class QLineSeries;
class QPushButton;
class QScatterSeries;
class QTimer;
class QValueAxis;

namespace ostrel {

class TransmissionStatistics;

class StatisticsWindow : public QWidget {
  Q_OBJECT

 public:
  // Shows `statistics`, which must outlive the window.
  explicit StatisticsWindow(TransmissionStatistics& statistics, QWidget* parent = nullptr);
  // A save under way is cancelled (the file stays as it was) and waited for.
  ~StatisticsWindow() override;

  // Shows the window, or raises it when it is open.
  void Open();

  // Saves the records to `path` (the button asks for it with a file dialog first).
  // SaveFinished follows from the event loop; a failure has then been logged as
  // "description(cmdSaveCsv_Click)" and shown in a message box. False when a save is
  // already under way.
  bool SaveCsv(const QString& path);
  bool Saving() const { return saving_; }

  // The value label of a figure (see statistics_texts.h), for tests.
  QLabel* FigureValue(const std::string& name) const;
  // The line of verdict counts; hidden until a cycle had a verdict since the reset.
  QLabel* lblVerdicts() const { return lblVerdicts_; }
  QPushButton* cmdReset() const { return cmdReset_; }
  QPushButton* cmdSaveCsv() const { return cmdSaveCsv_; }
  QLineSeries* RttSeries() const { return rtt_series_; }
  QScatterSeries* UnansweredSeries() const { return unanswered_series_; }

 signals:
  void SaveFinished(bool saved);

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void BuildFigures(QGridLayout* grid);
  QWidget* BuildPlot();
  void ScheduleRefresh();
  void Refresh();
  void RefreshPlot();
  void cmdReset_Click();
  void cmdSaveCsv_Click();
  void OnSaveDone(const QString& path, bool saved, const std::string& error);

  TransmissionStatistics& statistics_;
  std::map<std::string, QLabel*> values_;
  QChart* chart_ = nullptr;
  QLineSeries* rtt_series_ = nullptr;
  QScatterSeries* unanswered_series_ = nullptr;
  QDateTimeAxis* time_axis_ = nullptr;
  QValueAxis* rtt_axis_ = nullptr;
  QLabel* lblVerdicts_ = nullptr;
  QPushButton* cmdReset_ = nullptr;
  QPushButton* cmdSaveCsv_ = nullptr;
  QLabel* lblSaveResult_ = nullptr;
  QTimer* refresh_timer_ = nullptr;
  QElapsedTimer since_refresh_;
  QString last_folder_;

  std::thread save_thread_;
  std::atomic<bool> cancel_save_{false};
  bool saving_ = false;
};

}  // namespace ostrel
