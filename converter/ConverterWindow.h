// The converter's main window: the list of input files with their figures, the output
// profile beside it, the output folder, and the controls that convert the checked files all
// at once. The window spans several source files:
//   ConverterWindow.cpp    controls, menus, tool bar, layout
//   ConverterFiles.cpp     adding, removing and selecting files; preview; folder; launch
//   ConverterProfiles.cpp  the profile store, the profile and aspect boxes, the side panel
//   ConverterBatch.cpp     convert, stop, pause, resume, progress, control states, closing
//   ConverterOutputs.cpp   the output folder, the overwrite question, outputs' temporary names
//   ConverterPlacement.cpp the window's size and place and the columns' widths, remembered
//   ConverterDisc.cpp      fit to disc and the disc image of the converted files
//   ConverterQuality.cpp   the quality box
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Authoring/DiscAuthor.h"
#include "Components/FFEncode.h"
#include "Components/OutputNames.h"
#include "Components/TemporaryOutput.h"
#include "ConverterSettings.h"
#include "Services/FFLog.h"
#include "TableStore.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace tovamo {

class TDiscImageRun;

// What the converter asks of the preview player: play one file in the player window.
class TPreviewPlayer {
 public:
  virtual ~TPreviewPlayer() = default;
  virtual void PreviewFile(const QString& path) = 0;
};

// The output folder offered until the user chooses one: the user's videos folder (XDG)
// + "/Tovamo".
QString DefaultOutputFolder();

// Columns of the file list.
enum TFileColumn {
  fcInput,
  fcTotalTime,
  fcFileSize,
  fcProgress,
  fcFPS,
  fcUsedTime,
  fcOutputSize,
  fcColumnCount
};

class TForm1 : public QMainWindow {
 public:
  struct TOptions {
    QString ProgramDir;        // where data.dat and the "lib" folder are
    QString SettingsFile;      // empty: the user's settings
    QStringList InitialFiles;  // added when the window is first shown
  };
  explicit TForm1(TOptions options, QWidget* parent = nullptr);
  ~TForm1() override;

  void SetPreviewPlayer(TPreviewPlayer* player) { PreviewPlayer_ = player; }

  // The actions, as the menus, buttons and tool bar run them.
  void AddClick();  // the open-file dialog
  void AddFiles(const QStringList& files);
  bool AddOneFile(const QString& file);
  void RemoveClick();
  void ClearClick();
  void SelectClick(bool check);     // "&Select" / "&Unselect": the selected row
  void SelectAllClick(bool check);  // "Select &All" / "Unselect All"
  void PreviewClick();
  // The row pop-up menu's "Stop": the selected row's task alone; "Play Output": the
  // selected completed row's output in the player.
  void StopRowClick();
  void PlayOutputClick();
  // The files of dropped paths: a folder gives its videos, sub-folders included.
  void AddDroppedPaths(const QStringList& paths);
  void ChooseFolderClick();
  void LaunchClick();
  void AboutClick();
  void ConvertClick();
  void StopClick();
  void PauseClick();
  void ResumeClick();

  // The control states of the two window states.
  void ReadyState();
  void ConvertingState();
  bool Converting() const { return Converting_; }

  // The profile box and the aspect box, as the user changes them.
  void ProfileBoxChanged();
  void AspectBoxChanged();

  // "Make Disc Image...": the completed rows of the last batch into a disc image; and the
  // "Fit to Disc" box, as the user changes it.
  void MakeDiscImageClick();
  void FitToDiscChanged();
  // The fit's text and bar for the files, checks, profile and aspect as they are now.
  void RefreshDiscFit();
  bool MakingDiscImage() const { return DiscRun_ != nullptr; }

  // Questions the window asks (Yes/No); tests replace the dialog.
  std::function<bool(const QString& question)> Confirm;
  // Messages the window shows; tests replace the dialog.
  std::function<void(const QString& message)> ShowMessage;
  // Told at the end of every batch (a desktop notice); tests replace it.
  std::function<void(int completed, int failed, int stopped, const QString& folder)> OnBatchEnded;
  // Asked by "Make Disc Image..." (tests replace the dialogs): the image's name, and the
  // disc size ("4.7G", ...) of the list given. Empty: cancelled.
  std::function<QString(const QString& suggested, const QString& filter)> AskImagePath;
  std::function<QString(const QStringList& sizes)> AskDiscSize;
  // For a DVD, then: its title menu on or off (remembered) and the titles' names in it, with
  // a preview of its first page. False: cancelled.
  struct TDiscMenuChoice {
    bool Menu = true;
    std::vector<authoring::TDvdTitle> Titles;
    authoring::TDiscNorm Norm = authoring::TDiscNorm::Pal;
  };
  std::function<bool(TDiscMenuChoice& choice)> AskDiscMenu;
  // Called when the window has closed: the program ends then, whatever else is open.
  std::function<void()> OnClosed;

  // ---- Controls (named as the window's design names them) --------------------------------
  TFFEncoder FFEncoder;
  QTreeWidget* listview1 = nullptr;
  QPlainTextEdit* mmoLog = nullptr;
  QLineEdit* Edit1 = nullptr;      // output folder
  QComboBox* ComboBox1 = nullptr;  // "File Type": the profile
  QComboBox* ComboBox2 = nullptr;  // "Aspect"
  QComboBox* FitBox = nullptr;     // "Fit to Disc": off or the disc size to fill
  QLabel* FitText = nullptr;       // the bit rate it gives, or why it gives none
  QProgressBar* FitBar = nullptr;  // how full the disc will be
  QPushButton* Button1 = nullptr;  // Convert
  QPushButton* Button5 = nullptr;  // Stop
  QPushButton* Button6 = nullptr;  // Pause
  QPushButton* Button7 = nullptr;  // Resume
  // "Quality": the quality class of the outputs
  QComboBox* QualityBox = nullptr;
  QPushButton* FolderButton = nullptr;
  QPushButton* LaunchButton = nullptr;
  QTabWidget* Tabs = nullptr;
  QLabel* StatusText = nullptr;        // status bar panel 0
  QLabel* BatchSummary = nullptr;      // status bar panel 2: how the last batch ended
  QProgressBar* OverallBar = nullptr;  // status bar panel 1: the batch or disc image, overall
  QTimer* countTimer = nullptr;
  QTimer* playTimer = nullptr;
  // Side panel values.
  QLabel* VideoCodecValue = nullptr;
  QLabel* VideoBitrateValue = nullptr;
  QLabel* WidthValue = nullptr;
  QLabel* HeightValue = nullptr;
  QLabel* FrameRateValue = nullptr;
  QLabel* AspectValue = nullptr;
  QLabel* AudioBitrateValue = nullptr;
  QLabel* SampleRateValue = nullptr;
  QLabel* ChannelsValue = nullptr;

  struct TActions {
    QAction* Add = nullptr;
    QAction* Remove = nullptr;
    QAction* Clear = nullptr;
    QAction* Preview = nullptr;
    QAction* Convert = nullptr;
    QAction* Stop = nullptr;
    QAction* Pause = nullptr;
    QAction* Resume = nullptr;
    QAction* Select = nullptr;
    QAction* Unselect = nullptr;
    QAction* SelectAll = nullptr;
    QAction* UnselectAll = nullptr;
    QAction* Exit = nullptr;
    QAction* About = nullptr;
    QAction* Content = nullptr;
    QAction* PreviewFrames = nullptr;
    // Black bars keep a picture's proportions in a frame of another shape; off: stretched.
    QAction* KeepProportions = nullptr;
    QAction* MakeDiscImage = nullptr;
    // The tool bar's and the pop-up menu's own entries for the same commands.
    std::vector<QAction*> AddGroup, RemoveGroup, ClearGroup, PreviewGroup, ConvertGroup,
        SelectGroup;
    // The pop-up menu's entries for the selected row alone.
    QAction* StopRow = nullptr;
    QAction* PlayOutput = nullptr;
  } Actions;

  // The profiles as read from the store (names and format strings, in the store's order).
  std::vector<std::string> ListBox1;
  std::vector<std::string> ListBox2;
  // The batch: input paths and the list row of each task.
  std::vector<std::string> readyListBox;
  std::vector<int> readyidListBox;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateControls();
  void CreateMenus();
  void CreateToolBar();
  QWidget* CreateSidePanel();
  QWidget* CreateBottomPanel();
  void CreatePopupMenu();
  void ApplyControlStates();
  // Stop, Pause and Resume, each enabled only when it applies.
  void ApplyRunStates();
  // The pop-up menu's row entries, for the selected row.
  void ApplyRowStates();
  // The task of the running batch at a list row that has not ended, or -1.
  int RunningTaskOfRow(int row) const;
  // The rows take no check changes while a batch runs.
  void SetRowsCheckable(bool checkable);
  // The output folder, remembered as the user's choice.
  void RememberOutputFolder();
  // The row that lists `file` (the same path however written), or none.
  QTreeWidgetItem* RowOfFile(const QString& file) const;

  // The window's place and the columns' widths (ConverterPlacement.cpp).
  void RestorePlacement();
  void SavePlacement();
  void SizeColumnsFirstTime();

  // Start-up when first shown: the profile store, the remembered choices, the first files.
  void FirstShow();
  bool LoadLibraries();
  void OpenStore();
  void FillProfileBox(const QString& rememberedName);
  void FillAspectBox(const QString& value);
  void ShowFormatString(const std::string& formatString);
  int CurrentProfileIndex() const;
  // Why the profile at `index` cannot be used here (an H.264 profile without the encoder),
  // or empty; shown beside the profile, which is disabled.
  QString ProfileUnusableReason(int index);

  // The batch (ConverterBatch.cpp).
  bool PrepareTask(std::size_t entry, const std::string& outputPath);
  void FFEncoderProgress(const TProgressInfo& info);
  void FFEncoderTerminate(int batch, const TTerminateInfo& info);
  // The output options of the shown profile for one input.
  TOutputOptions ProfileOptions(const std::string& inputPath) const;
  void FFLoggerLog(std::uint32_t threadId, TLogLevel level, const std::string& message);
  void AttachHandlers();
  void DetachHandlers();
  void ShowOverallProgress();
  // Marks a row whose task failed: an error icon in its Progress cell, the reason as tip.
  void MarkFailedRow(QTreeWidgetItem* row, const QString& reason);
  void ShowBatchSummary();
  void LogLine(const QString& line);
  QTreeWidgetItem* RowOfTask(int taskIndex) const;
  // The overall figure over all rows, or -1 when the rows hold no bytes.
  int OverallFigure() const;

  // The batch's outputs (ConverterOutputs.cpp).
  // The folder exists, or was made; otherwise the user was told why not.
  bool OutputFolderReady(const QString& folder);
  // Asks once when outputs of the batch exist; true to go on.
  bool ConfirmOverwrites(const std::vector<TBatchOutputName>& outputs,
                         const std::vector<std::string>& inputs);
  // Gives a task's output its final name, or removes it; an error text when that failed.
  // `earlierKept`: an earlier file of the final name stays instead of the task's output.
  QString SettleOutput(int taskIndex, TTaskEnd end, bool* earlierKept = nullptr);
  void SettleAllOutputs();

  // Fit to disc and the disc image (ConverterDisc.cpp).
  struct TDiscFitFigure {
    bool On = false;        // a disc size is chosen
    QString Text;           // the rate, for the user
    QString Problem;        // not empty: the batch must not start, for this reason
    QString OptionText;     // the rate, as output option lines
    double FillShare = -1;  // how full the disc will be (1: full); -1: not known
  };
  QWidget* CreateDiscFitBox();
  // The quality box, showing the remembered class (ConverterQuality.cpp), and the class
  // chosen as TOutputOptions::Quality names it.
  QComboBox* CreateQualityBox();
  std::string ChosenQuality() const;
  void CreateDiscActions();
  TDiscFitFigure DiscFitForCheckedRows() const;
  bool BeginDiscBatch();  // false: the batch must not start (it does not fit)
  // After a batch fitted to a disc: how full the disc is with what it converted.
  void TellDiscFill();
  void NoteDiscOutput(int row, const std::string& outputPath);
  // Every sound track and the text subtitles of a DVD target's input, remembered for the image.
  void ChooseDiscTracks(int task, int row, const std::string& input, TOutputOptions& options);
  // Remembers with a new row how many sound tracks its DVD output carries, for the fit.
  static void NoteDvdSoundTracks(QTreeWidgetItem* row, const AVFormatContext& input);
  std::vector<authoring::TDvdTitle> DiscTitles() const;
  bool DiscImageReady() const;
  void StopDiscImage();
  void DiscImageEnded(const authoring::TAuthorResult& result, const QString& size);
  // The norm of a task of a disc batch whose profile leaves it to the inputs: the first
  // task's for every task (a disc holds one norm), told in the Log tab; 0 otherwise.
  int DiscBatchNorm(int task, const std::string& input);

  TOptions Options_;
  TConverterSettings Settings_;
  TTableStore Store_;
  TPreviewPlayer* PreviewPlayer_ = nullptr;
  bool Shown_ = false;
  bool Converting_ = false;
  int RemainingTasks_ = 0;
  int Batch_ = 0;  // counts the batches started; late notices of an older one are dropped
  std::int64_t ElapsedSeconds_ = 0;
  int LastPercent_ = 0;  // the overall figure last shown
  // Files refused by the Add under way, with their reasons, told in one message at its end.
  QStringList RefusedFiles_;
  // What a drop left out (files of a dropped folder that are no videos), told with them.
  QString AddNote_;
  // The list row of each task of the running batch (rows refused at preparation have none).
  std::vector<int> TaskRows_;
  // The output of each task: written under Temporary, settled when the task ends.
  struct TTaskOutput {
    std::string Temporary;
    std::string Final;
    bool Settled = false;
  };
  std::vector<TTaskOutput> TaskOutputs_;
  // How the rows of the batch ended; the summary is told once every row has.
  int BatchRows_ = 0, BatchCompleted_ = 0, BatchFailed_ = 0, BatchStopped_ = 0;
  bool BatchTold_ = true;
  QString BeforePause_;         // the status text a Resume brings back
  QString OfferedFolder_;       // the output folder offered at start, made when first needed
  QString DiscBatchProfile_;    // the profile of the last batch, for its disc image
  std::string DiscFitOptions_;  // the fitted bit rate, added to every task of the batch
  QString DiscFitSize_;         // the disc size the batch was fitted to; empty: none
  // "threads=N" lines when the batch leaves cores spare (its tasks then get codec threads
  // and stages), else empty: a full batch runs each task on one thread.
  std::string TaskThreadOptions_;
  TDiscImageRun* DiscRun_ = nullptr;  // a child of the window while an image is being made
  int DiscBatchNorm_ = 0;             // of the batch's disc: -1 the first task's, once it is known
};

}  // namespace tovamo
